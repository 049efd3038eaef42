#pragma once

#include <QAbstractButton>

// A small checkable on/off switch: a rounded track with a round knob,
// tinted with the palette's highlight colour when on, the text colour thinned
// out when off. The focus ring shows only once the keyboard moved focus. Clicking flips it and
// emits clicked(bool) with the new state; setChecked() emits no click.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    bool showsFocusRing() const { return hasFocus() && m_showsFocusRing; }

    // The off track's colour in `palette`.
    static QColor offTrackColour(const QPalette &palette);

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_showsFocusRing = false;
};
