#pragma once

#include <QLabel>

// A one-line label that ends its text in "…" when it does not fit, with the
// whole text as its tooltip then.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(const QString &text, QWidget *parent = nullptr);

    QString fullText() const { return m_fullText; }
    bool isElided() const { return text() != m_fullText; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();

    QString m_fullText;
};
