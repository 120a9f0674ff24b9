// The face of the user interface by language, and the installed faces that stand in for it.
#include <gtest/gtest.h>

#include <QFontInfo>

#include "platform/Language.h"
#include "platform/RecoveryContext.h"
#include "support/QtTestApp.h"
#include "ui/UiFont.h"

namespace {

class UiFont : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_language = GetRecoveryContext().LanguageId;
  }
  void TearDown() override { GetRecoveryContext().LanguageId = m_language; }

 private:
  int32_t m_language = 0;
};

}  // namespace

TEST_F(UiFont, JapaneseUsesMeiryoUiEveryOtherLanguageArial) {
  struct Case {
    int language;
    const char* face;
    const char* standIn;  // the installed face that must take its place here
  } cases[] = {
      {corvale::kLanguageChinese, "Arial", "Liberation Sans"},
      {corvale::kLanguageEnglish, "Arial", "Liberation Sans"},
      {corvale::kLanguageDeutsch, "Arial", "Liberation Sans"},
      {corvale::kLanguageJapanese, "Meiryo UI", "Noto Sans CJK JP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    GetRecoveryContext().LanguageId = c.language;
    EXPECT_EQ(corvale::ui::GetUIFontName(), c.face);
    QStringList families = corvale::ui::UIFontFamiliesFor(c.language);
    ASSERT_FALSE(families.isEmpty());
    EXPECT_EQ(families.first().toStdString(), c.face);
    EXPECT_TRUE(families.contains(QString::fromLatin1(c.standIn)));
    // The faces the program was designed for are not on this machine; the one that is drawn must be
    // the metric twin, never some unrelated face.
    QFontInfo drawn(corvale::ui::MakeUiFont(14, 400));
    EXPECT_TRUE(drawn.family() == QString::fromLatin1(c.face) ||
                drawn.family() == QString::fromLatin1(c.standIn))
        << drawn.family().toStdString();
  }
}

TEST_F(UiFont, HeightsAreCellHeightsWhenPositiveAndCharacterHeightsWhenNegative) {
  GetRecoveryContext().LanguageId = corvale::kLanguageEnglish;
  QFont cell = corvale::ui::MakeUiFont(14, 700);
  EXPECT_EQ(cell.pixelSize(), 12);
  EXPECT_EQ(cell.weight(), QFont::Bold);
  QFont characters = corvale::ui::MakeUiFont(-15, 400);
  EXPECT_EQ(characters.pixelSize(), 15);
  EXPECT_EQ(characters.weight(), QFont::Normal);
  EXPECT_DOUBLE_EQ(corvale::ui::MakeUiPointFont(90, 400).pointSizeF(), 9.0);
}
