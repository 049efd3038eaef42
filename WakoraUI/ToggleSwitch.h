#pragma once

#include <QAbstractButton>

// A small checkable on/off switch: a rounded track with a round knob,
// tinted with the palette's highlight colour when on. Clicking flips it and
// emits clicked(bool) with the new state; setChecked() emits no click.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
