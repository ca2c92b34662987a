#pragma once
// The update file as the station will send it: what update-cli --check says
// of it (its targets with type, size and estimated time on the line), its
// SHA-256, and each target's estimated seconds for the tiles' time left.
// The check runs as a child process, so a large file never stops the window.

#include "StationChild.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

struct SFileCheckResult {
    bool ok = false;
    std::string text;              // the check's lines, or its error
    std::string sha256;            // 64 hexadecimal digits; empty when unreadable
    std::vector<double> estimates; // per target, seconds
};

class CFileCheck : public QObject {
    Q_OBJECT

public:
    explicit CFileCheck(std::string program, QObject* parent = nullptr);
    ~CFileCheck() override;

    // Checks `file`; a check still running is dropped.
    void Check(const std::string& file);

signals:
    void Checked(const SFileCheckResult& result);

private:
    void Read(int fd);

    std::string m_program;
    std::string m_file;
    std::unique_ptr<devupdate::station::CStationChild> m_child;
    std::vector<std::unique_ptr<QSocketNotifier>> m_notifiers;
    std::string m_out;
    std::string m_err;
};

// The seconds of every "estimated N.N s" in the check's text, in order.
std::vector<double> EstimatesOf(const std::string& checkText);
// The file's SHA-256 in hexadecimal; empty when it cannot be read.
std::string FileSha256(const std::string& path);
