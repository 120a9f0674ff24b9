#pragma once
// Drawing routines of the program's own pictures (Pictures.h). Each draws one kind of picture into
// the whole of `size`, starting from an undefined background.

#include <QPainter>
#include <QSize>
#include <QString>
#include <QStringList>

namespace corvale::ui::pictures {

enum class ButtonState { Normal, Hover, Pushed, Disabled };

enum class BarButtonIcon { None, Home, Back, Next };

// A button of the wizard's bottom bar: a rounded face on the bar's colour, with a label and an
// optional sign. A primary button (Next) is filled blue, the others white.
void DrawBarButton(QPainter& p, const QSize& size, const QString& label, BarButtonIcon icon, bool primary,
                   ButtonState state);

// A link of the banner: its text on the banner's colour, underlined under the mouse. With
// `dropDown`, a small arrow after the text says that it opens a menu.
void DrawBannerLink(QPainter& p, const QSize& size, const QString& label, bool dropDown, ButtonState state);

// The product's logo on the banner's colour.
void DrawLogo(QPainter& p, const QSize& size, ButtonState state);

// Where the banners put the logo, and the room between the logo and the links at the right that
// the banners of the pictures table leave for their text (a 1000-pixel banner).
constexpr int kBannerLogoLeft = 50;
constexpr int kBannerLogoTop = 11;
constexpr int kBannerLogoWidth = 200;
constexpr int kBannerLogoHeight = 38;
constexpr double kBannerTextLeft = 290;
constexpr double kBannerTextRight = 750;
// The least room a step of a step banner needs: its circle and its name, broken onto two lines.
constexpr int kBannerStepMinimumWidth = 64;

// The banner of the welcome page, its line kept inside the columns `textLeft` to `textRight`.
void DrawWelcomeBanner(QPainter& p, const QSize& size, double textLeft = kBannerTextLeft,
                       double textRight = kBannerTextRight);

// A banner with the steps of a recovery, `current` the step now shown (counting from 0). The steps
// share the columns `textLeft` to `textRight`; a name too long for its share is broken onto two
// lines.
void DrawStepBanner(QPainter& p, const QSize& size, const QStringList& steps, int current,
                    double textLeft = kBannerTextLeft, double textRight = kBannerTextRight);

// The bar under the pages.
void DrawBottomBar(QPainter& p, const QSize& size);

// A check mark on the menu's selection colour, which its users leave transparent.
void DrawMenuCheck(QPainter& p, const QSize& size);

// The picture of the welcome page: what the program does and how each recovery starts.
void DrawWelcomePicture(QPainter& p, const QSize& size);

// A large button of the welcome page on white: the green Start button (`primary`), or an outlined
// button of a recovery mode.
void DrawWelcomeButton(QPainter& p, const QSize& size, const QString& label, bool primary, ButtonState state);

// The picture of a file-type category, by its index in the catalogue (0 graphics, 1 documents,
// 2 archives, 3 multimedia, 4 email, 5 databases, 6 programs).
void DrawCategoryIcon(QPainter& p, const QSize& size, int index);

// The check boxes of the file-type tree side by side, each as wide as the strip is high: an empty
// slot, then unticked, partly ticked and ticked, on a white ground.
void DrawCheckBoxStrip(QPainter& p, const QSize& size);

}  // namespace corvale::ui::pictures
