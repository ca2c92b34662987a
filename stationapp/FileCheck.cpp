#include "FileCheck.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSocketNotifier>

#include <cstdlib>
#include <string_view>

using namespace devupdate;
using namespace devupdate::station;

CFileCheck::CFileCheck(std::string program, QObject* parent) : QObject(parent), m_program(std::move(program)) {}

CFileCheck::~CFileCheck() = default;

void CFileCheck::Check(const std::string& file)
{
    m_notifiers.clear();
    m_child = std::make_unique<station::CStationChild>();
    m_file = file;
    m_out.clear();
    m_err.clear();
    std::string error;
    // A file name that looks like an option stays a file name.
    const std::string name = !file.empty() && file[0] == '-' ? "./" + file : file;
    if (!m_child->Start(m_program, {"update-cli", "--check", name}, error)) {
        m_child.reset();
        emit Checked({false, "cannot check the file: " + error, {}, {}});
        return;
    }
    for (const int fd : {m_child->OutFd(), m_child->ErrFd()}) {
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
        m_notifiers.push_back(std::move(notifier));
    }
}

void CFileCheck::Read(int fd)
{
    std::vector<std::string> lines;
    const bool out = fd == m_child->OutFd();
    m_child->ReadLines(fd, lines);
    for (const std::string& line : lines)
        (out ? m_out : m_err) += line + "\n";
    if (fd != m_child->OutFd() && fd != m_child->ErrFd()) {
        for (std::unique_ptr<QSocketNotifier>& notifier : m_notifiers) {
            if (notifier && notifier->socket() == fd)
                notifier->setEnabled(false);  // the pipe's end: nothing more comes
        }
    }
    if (!m_child->OutputEnded())
        return;
    const int status = m_child->Reap();
    m_child.reset();
    SFileCheckResult result;
    result.ok = status == 0;
    result.text = result.ok ? m_out : m_out + m_err;
    while (!result.text.empty() && result.text.back() == '\n')
        result.text.pop_back();
    result.estimates = EstimatesOf(m_out);
    result.sha256 = FileSha256(m_file);
    emit Checked(result);
}

std::vector<double> EstimatesOf(const std::string& checkText)
{
    // Every "estimated N.N s" of the check's lines, in order.
    static const std::string kMark = "estimated ";
    std::vector<double> seconds;
    for (size_t at = checkText.find(kMark); at != std::string::npos; at = checkText.find(kMark, at)) {
        at += kMark.size();
        const char* start = checkText.c_str() + at;
        char* end = nullptr;
        const double value = std::strtod(start, &end);
        if (end != start && *start >= '0' && *start <= '9' && std::string_view(end).starts_with(" s"))
            seconds.push_back(value);
    }
    return seconds;
}

std::string FileSha256(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex().toStdString();
}
