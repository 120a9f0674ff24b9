#include "ui/UiFont.h"

#include <cmath>

#include "platform/Language.h"
#include "platform/RecoveryContext.h"

namespace corvale::ui {
namespace {

QFont::Weight ToQtWeight(int weight) { return weight >= 600 ? QFont::Bold : QFont::Normal; }

QFont FontOfFace(int languageId) {
  QFont font;
  font.setFamilies(UIFontFamiliesFor(languageId));
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace

std::string UIFontNameFor(int languageId) {
  return languageId == corvale::kLanguageJapanese ? "Meiryo UI" : "Arial";
}

std::string GetUIFontName() { return UIFontNameFor(GetRecoveryContext().LanguageId); }

QStringList UIFontFamiliesFor(int languageId) {
  QStringList families{QString::fromStdString(UIFontNameFor(languageId))};
  if (languageId == corvale::kLanguageJapanese) {
    families << QStringLiteral("Noto Sans CJK JP") << QStringLiteral("Liberation Sans");
  } else {
    families << QStringLiteral("Liberation Sans");
    if (languageId == corvale::kLanguageChinese) families << QStringLiteral("Noto Sans CJK SC");
  }
  families << QStringLiteral("DejaVu Sans");
  return families;
}

QFont MakeUiFont(int height, int weight) {
  QFont font = FontOfFace(GetRecoveryContext().LanguageId);
  // A cell height includes the room above and below the letters, about 15 % of the size of the
  // face's letters in these faces.
  int pixels = height < 0 ? -height : static_cast<int>(std::lround(height / 1.15));
  font.setPixelSize(pixels > 0 ? pixels : 1);
  font.setWeight(ToQtWeight(weight));
  return font;
}

QFont MakeUiPointFont(int pointSizeTenths, int weight) {
  QFont font = FontOfFace(GetRecoveryContext().LanguageId);
  font.setPointSizeF(pointSizeTenths > 0 ? pointSizeTenths / 10.0 : 1.0);
  font.setWeight(ToQtWeight(weight));
  return font;
}

}  // namespace corvale::ui
