// A picture in the details pane: fitted to the room it has (never enlarged),
// or at 100%, zoomed in and out by steps, with the scale shown beside the
// buttons that change it.
#pragma once

#include <QImage>
#include <QWidget>

class QLabel;
class QScrollArea;
class QToolButton;

class PictureView : public QWidget
{
    Q_OBJECT

public:
    explicit PictureView(QWidget *parent = nullptr);

    // Shown fitted, as every new picture is.
    void setPicture(const QImage &picture);
    void clear();
    // 1.0 at 100%.
    double scale() const { return m_scale; }

public slots:
    void fit();
    void actualSize();
    void zoomIn();
    void zoomOut();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The picture at `scale`, within the largest size shown.
    void showAt(double scale);

    QImage m_picture;
    double m_scale = 1.0;
    bool m_fitted = true; // follows the pane's size
    QScrollArea *m_area;
    QLabel *m_label;
    QLabel *m_scaleLabel;
    QToolButton *m_fitButton;
};
