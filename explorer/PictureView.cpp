#include "PictureView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// One step of + or -.
const double kStep = 1.25;
// A zoomed picture is made whole: it stays below this many pixels, and at
// least one pixel wide and high.
const qint64 kMostPixels = 40'000'000;

} // namespace

PictureView::PictureView(QWidget *parent)
    : QWidget(parent)
    , m_area(new QScrollArea(this))
    , m_label(new QLabel)
    , m_scaleLabel(new QLabel(this))
    , m_fitButton(new QToolButton(this))
{
    auto *buttons = new QHBoxLayout;
    m_fitButton->setText(tr("Fit"));
    m_fitButton->setToolTip(tr("Fit the picture to the pane"));
    m_fitButton->setCheckable(true);
    connect(m_fitButton, &QToolButton::clicked, this, &PictureView::fit);
    buttons->addWidget(m_fitButton);
    const struct
    {
        QString text, tip;
        void (PictureView::*slot)();
    } steps[] = {{tr("100%"), tr("Show the picture at its own size"), &PictureView::actualSize},
                 {tr("+"), tr("Zoom in"), &PictureView::zoomIn},
                 {tr("-"), tr("Zoom out"), &PictureView::zoomOut}};
    for (const auto &step : steps) {
        auto *button = new QToolButton(this);
        button->setText(step.text);
        button->setToolTip(step.tip);
        connect(button, &QToolButton::clicked, this, step.slot);
        buttons->addWidget(button);
    }
    buttons->addWidget(m_scaleLabel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_area);
    m_label->setAlignment(Qt::AlignCenter);
    m_area->setWidget(m_label);
    m_area->setWidgetResizable(true);
    m_area->setAlignment(Qt::AlignCenter);
    // The room the picture fits into changes with the pane.
    m_area->viewport()->installEventFilter(this);
}

void PictureView::setPicture(const QImage &picture)
{
    m_picture = picture;
    fit();
}

void PictureView::clear()
{
    m_picture = QImage();
    m_label->clear();
    m_scaleLabel->clear();
}

void PictureView::fit()
{
    m_fitted = true;
    if (m_picture.isNull())
        return;
    const QSize room = m_area->viewport()->size();
    showAt(std::min({1.0, double(room.width()) / m_picture.width(),
                     double(room.height()) / m_picture.height()}));
}

void PictureView::actualSize()
{
    m_fitted = false;
    showAt(1.0);
}

void PictureView::zoomIn()
{
    m_fitted = false;
    showAt(m_scale * kStep);
}

void PictureView::zoomOut()
{
    m_fitted = false;
    showAt(m_scale / kStep);
}

void PictureView::showAt(double scale)
{
    m_fitButton->setChecked(m_fitted);
    if (m_picture.isNull())
        return;
    const double w = m_picture.width(), h = m_picture.height();
    const double most = std::sqrt(double(kMostPixels) / (w * h));
    m_scale = std::clamp(scale, std::max(1.0 / w, 1.0 / h), std::max(most, 1.0 / std::min(w, h)));
    const QSize size(std::max(1, int(std::lround(w * m_scale))), std::max(1, int(std::lround(h * m_scale))));
    m_label->setPixmap(QPixmap::fromImage(
        size == m_picture.size() ? m_picture
                                 : m_picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    m_scaleLabel->setText(tr("%1%").arg(std::lround(m_scale * 100)));
}

bool PictureView::eventFilter(QObject *watched, QEvent *event)
{
    if (m_fitted && event->type() == QEvent::Resize && watched == m_area->viewport())
        fit();
    return QWidget::eventFilter(watched, event);
}
