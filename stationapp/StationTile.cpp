#include "StationTile.h"

#include "ProgressBarValue.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace devupdate;
using namespace devupdate::update;
using namespace devupdate::station;

namespace {

struct SColors {
    const char* background;
    const char* text;
};

SColors ColorsOf(ETileState state)
{
    switch (state) {
    case ETileState::Idle:
    case ETileState::Stopped:
        return {"#eceff1", "#37474f"};
    case ETileState::Waiting:
        return {"#fff8e1", "#6d4c00"};
    case ETileState::Updating:
        return {"#e3f2fd", "#0d47a1"};
    case ETileState::Passed:
        return {"#e8f5e9", "#1b5e20"};
    case ETileState::Failed:
    case ETileState::PortError:
        return {"#ffebee", "#b71c1c"};
    case ETileState::Cancelled:
        return {"#f3e5f5", "#4a148c"};
    }
    return {"#eceff1", "#37474f"};
}

}  // namespace

CStationTile::CStationTile(const QString& port, const QString& description, QWidget* parent)
    : QFrame(parent),
      m_port(port),
      m_title(new QLabel(description, this)),
      m_big(new QLabel(this)),
      m_bar(new QProgressBar(this)),
      m_detail(new QLabel(this)),
      m_counts(new QLabel(this)),
      m_last(new QLabel(this)),
      m_trace(new QPushButton(this))
{
    setObjectName("tile");
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(150, 110);
    m_title->setToolTip(description);
    m_title->setTextFormat(Qt::PlainText);
    m_big->setAlignment(Qt::AlignCenter);
    m_big->setTextFormat(Qt::PlainText);
    m_detail->setAlignment(Qt::AlignCenter);
    m_detail->setTextFormat(Qt::PlainText);
    m_bar->setTextVisible(false);
    m_bar->setMaximumHeight(10);
    m_trace->setVisible(false);
    m_trace->setFocusPolicy(Qt::NoFocus);
    for (QLabel* small : {m_title, m_counts, m_last, m_detail})
        small->setMinimumWidth(1);  // a long text is elided, never widens the tile
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(2);
    auto* top = new QHBoxLayout;
    top->addWidget(m_title, 1);
    top->addWidget(m_last);
    layout->addLayout(top);
    layout->addStretch(1);
    layout->addWidget(m_big);
    layout->addWidget(m_bar);
    layout->addWidget(m_detail);
    layout->addStretch(1);
    layout->addWidget(m_counts);
    layout->addWidget(m_trace);
    connect(m_trace, &QPushButton::clicked, this, [this] { emit TraceWanted(m_tracePath); });
    Show({}, {});
}

void CStationTile::Show(const STileText& text, const station::SStationCounts& counts)
{
    const SColors colors = ColorsOf(text.state);
    if (text.state != m_state || styleSheet().isEmpty()) {
        m_state = text.state;
        setStyleSheet(QString("QFrame#tile { background: %1; border: 2px solid %2; border-radius: 6px; }"
                              "QLabel { color: %2; background: transparent; }")
                          .arg(colors.background, colors.text));
    }
    m_big->setText(QString::fromStdString(text.big));
    m_bar->setVisible(text.percent >= 0);
    ShowPercent(*m_bar, text.percent);
    const QString detail = QString::fromStdString(text.detail);
    m_detail->setToolTip(detail);
    m_detail->setText(m_detail->fontMetrics().elidedText(detail, Qt::ElideRight, m_detail->width()));
    m_counts->setText(QString("Passed %1   Failed %2   Cancelled %3")
                          .arg(counts.passed)
                          .arg(counts.failed)
                          .arg(counts.cancelled));
    FitCounts();
}

void CStationTile::FitCounts()
{
    // The counts stay whole: a narrow tile shows them smaller.
    QFont small = font();
    int pixels = 13;
    small.setPixelSize(pixels);
    while (pixels > 8 && QFontMetrics(small).horizontalAdvance(m_counts->text()) > width() - 20)
        small.setPixelSize(--pixels);
    m_counts->setFont(small);
}

void CStationTile::ShowLastPassTime(double seconds)
{
    m_last->setText(QString("last pass %1 s").arg(seconds, 0, 'f', 1));
    m_last->setToolTip("The last pass's time, from the device's answer to its end");
    ElideTitle();
}

void CStationTile::ElideTitle()
{
    m_title->setText(m_title->fontMetrics().elidedText(m_title->toolTip(), Qt::ElideRight,
                                                       width() - 24 - m_last->sizeHint().width()));
}

void CStationTile::ShowKeptTrace(const QString& path, unsigned pass)
{
    m_tracePath = path;
    m_trace->setText(QString("Trace of failed pass %1...").arg(pass));
    m_trace->setVisible(true);
}

void CStationTile::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    // The state is readable from two metres: as large as the tile allows.
    QFont big = font();
    big.setBold(true);
    int pixels = std::clamp(height() / 5, 14, 44);
    big.setPixelSize(pixels);
    const QString longest = "Waiting for a device";
    while (pixels > 12 && QFontMetrics(big).horizontalAdvance(longest) > width() - 20)
        big.setPixelSize(--pixels);
    m_big->setFont(big);
    QFont detail = font();
    detail.setPixelSize(std::clamp(pixels / 2, 11, 18));
    m_detail->setFont(detail);
    ElideTitle();
    FitCounts();
}
