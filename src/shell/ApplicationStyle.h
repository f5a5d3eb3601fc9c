#pragma once

#include <QProxyStyle>

namespace tavrolin {

// The desktop's style, minus two image reads before the first picture. Adding Qt's own PNG to
// an icon, or loading one by file name, probes its format with every image-format plugin, which
// loads them all and their libraries (TIFF, WebP, MNG, JPEG…) before the window shows. The menu
// bar's overflow arrows come from the bundled chevrons instead, and the group-box frame reads
// the same picture as PNG without probing. A focused default or flat button shows its focus,
// and Return or Enter presses a focused push button, as Space does. GUI thread only.
class ApplicationStyle : public QProxyStyle {
  public:
    QIcon standardIcon(StandardPixmap pixmap, const QStyleOption* option,
                       const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    // Fusion marks the default button and the focused button with the same outline, and draws
    // no focus on a flat button, so a focused default or flat button looks unfocused: it gets
    // the focus ring of painted controls.
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;

    void polish(QApplication* application) override;
    void unpolish(QApplication* application) override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

  protected:
    // Outside dialogs a push button ignores Return: the key presses the focused one here.
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tavrolin
