#pragma once

#include <QLabel>

// A symbol in the palette's text colour: drawn again when the palette changes
// (a dark theme chosen while the window is open) and for the screen's pixel
// density. Its "symbol" property names what it shows.
class SymbolLabel : public QLabel
{
    Q_OBJECT

public:
    SymbolLabel(const QString &symbol, int size, QWidget *parent = nullptr);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbol);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void render();

    QString m_symbol;
    int m_size;
};
