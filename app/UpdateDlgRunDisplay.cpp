// The run display: one row per target under "Update info".

#include "UpdateDlg.h"

#include "DialogTemplates.h"
#include "PrintableText.h"
#include "ProgressBarValue.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

// The display font: 8.5 pt of the system's default face.
constexpr double kDisplayFontPoints = 8.5;

QLabel* CreateRowLabel(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(font);
    return label;
}

// A target's name as its row shows it: control characters from the file made
// visible, the header line's own end kept as it is.
QString RowName(const std::string& name)
{
    const size_t end = name.find_last_not_of("\r\n") + 1;  // npos + 1 == 0: all line end
    return QString::fromLocal8Bit((PrintableText(std::string_view(name).substr(0, end)) + name.substr(end)).c_str());
}

}  // namespace

void CUpdateDlg::BuildRunDisplay(const std::vector<SRunSnapshot::SRow>& targets)
{
    // The header may name more targets than the display holds.
    const int rows = static_cast<int>(std::min<size_t>(targets.size(), MAX_TARGETS));
    m_displayFont = QFont();
    m_displayFont.setPointSizeF(kDisplayFontPoints);

    const bool showHeaders = rows > 0;
    m_statusHeader->setVisible(showHeaders);
    m_progressHeader->setVisible(showHeaders);
    m_applicationHeader->setVisible(showHeaders);

    setFixedSize(m_dialogRect.width(), m_dialogRect.height() + ROW_PITCH * rows);
    if (isVisible())
        raise();
    m_runDisplayBuilt = true;

    m_updateInfoBox->resize(m_groupRect.width(),
                            m_groupRect.height() + ROW_PITCH * rows + GROUP_EXTRA);
    const int top = m_updateInfoBox->height() - ROW_PITCH * rows - GROUP_EXTRA;
    const int width = m_updateInfoBox->width();

    const int nameLeft = m_applicationRect.left() - m_groupRect.left();
    const int barLeft = m_progressRect.left() - m_groupRect.left();
    const int statusLeft = m_statusRect.left() - m_groupRect.left();
    // The name column reaches to xA + xP - 10, as the original laid it out.
    const int nameRight = nameLeft + barLeft - COLUMN_GAP;
    const int barRight = statusLeft - COLUMN_GAP;
    const int statusRight = width - RIGHT_MARGIN;
    for (int row = 0; row < rows; ++row) {
        CreateTargetRow(row, targets[static_cast<size_t>(row)].name, nameLeft, nameRight - nameLeft, barLeft, barRight - barLeft, statusLeft,
                        statusRight - statusLeft, top + ROW_PITCH * row);
    }
}

void CUpdateDlg::CreateTargetRow(int row, const std::string& rowName, int nameLeft, int nameWidth, int barLeft, int barWidth,
                                 int statusLeft, int statusWidth, int top)
{
    QLabel* name = CreateRowLabel(RowName(rowName), m_displayFont, m_updateInfoBox);
    name->setGeometry(nameLeft, top, nameWidth, ROW_HEIGHT);
    name->show();
    m_nameLabels[row] = name;

    QLabel* status = CreateRowLabel(QStringLiteral("0%"), m_displayFont, m_updateInfoBox);
    status->setGeometry(statusLeft, top, statusWidth, ROW_HEIGHT);
    status->show();
    m_statusLabels[row] = status;

    auto* bar = new QProgressBar(m_updateInfoBox);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);  // a smooth bar without a percent text
    bar->setObjectName(QStringLiteral("ctl%1").arg(res::IDC_PROGRESS_FIRST + row));
    bar->setProperty("controlId", res::IDC_PROGRESS_FIRST + row);
    bar->setGeometry(barLeft, top, barWidth, ROW_HEIGHT);
    bar->show();
    m_progressBars[row] = bar;
}

void CUpdateDlg::TearDownRunDisplay()
{
    if (!m_runDisplayBuilt)
        return;
    m_statusHeader->hide();
    m_progressHeader->hide();
    m_applicationHeader->hide();
    m_runDisplayBuilt = false;
    for (int row = 0; row < MAX_TARGETS; ++row) {
        delete m_nameLabels[row];
        delete m_statusLabels[row];
        delete m_progressBars[row];
        m_nameLabels[row] = nullptr;
        m_statusLabels[row] = nullptr;
        m_progressBars[row] = nullptr;
    }
    m_updateInfoBox->resize(m_groupRect.size());
}

void CUpdateDlg::RefreshTargetRows(const SRunSnapshot& seen)
{
    for (size_t row = 0; row < seen.rows.size(); ++row) {
        if (m_progressBars[row] == nullptr || m_statusLabels[row] == nullptr)
            continue;
        const SRunSnapshot::SRow& target = seen.rows[row];
        ShowPercent(*m_progressBars[row], target.percent);
        m_statusLabels[row]->setText(QString::fromLocal8Bit(target.Text().c_str()));
    }
}
