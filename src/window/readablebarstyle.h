#ifndef READABLEBARSTYLE_H
#define READABLEBARSTYLE_H

#include <QProxyStyle>

// Draws a horizontal bar's text in the text colour over the empty groove and
// in the highlighted-text colour over the filled part, wherever that part
// lies. Fusion picks the colours for the wrong halves of an inverted bar,
// which puts white text on the white groove below 50 %.
class ReadableBarStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override;
};

#endif
