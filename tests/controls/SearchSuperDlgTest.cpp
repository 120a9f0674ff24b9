// The common base of the dialogs.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>

#include "controls/DialogTemplate.h"
#include "controls/SearchSuperDlg.h"
#include "support/QtTestApp.h"

using corvale::ui::FindControl;

namespace {

class SearchSuperDlg : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
};

}  // namespace

TEST_F(SearchSuperDlg, ADialogMadeWithItsParentAloneShowsThePlainTemplate) {
  CSearchSuperDlg dialog(nullptr);
  EXPECT_EQ(dialog.TemplateId(), 105);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Dialog");
  auto* ok = FindControl<QPushButton>(&dialog, corvale::ui::kIdOk);
  auto* cancel = FindControl<QPushButton>(&dialog, corvale::ui::kIdCancel);
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(ok->text().toStdString(), "OK");
  EXPECT_EQ(cancel->text().toStdString(), "Cancel");
  // At least 186 x 95 dialog units; OK over Cancel.
  EXPECT_EQ(dialog.minimumSize(), corvale::ui::DluSize(dialog.font(), 186, 95));
  dialog.show();
  EXPECT_LT(ok->geometry().bottom(), cancel->geometry().top());
  EXPECT_TRUE(dialog.DrawFlag());
  EXPECT_EQ(dialog.BackgroundBrush().style(), Qt::NoBrush) << "destroying it without a brush is harmless";
}

TEST_F(SearchSuperDlg, ADerivedTemplateGetsNoControlsFromTheBase) {
  CSearchSuperDlg dialog(362, nullptr);
  EXPECT_EQ(dialog.TemplateId(), 362);
  EXPECT_EQ(FindControl<QPushButton>(&dialog, corvale::ui::kIdOk), nullptr);
  dialog.SetDrawFlag(false);
  EXPECT_FALSE(dialog.DrawFlag());
  dialog.BackgroundBrush() = QBrush(QColor(177, 218, 244));
  EXPECT_EQ(dialog.BackgroundBrush().color(), QColor(177, 218, 244));
}

TEST_F(SearchSuperDlg, RunsModallyUntilOkOrCancelAndCanBeDisabledWhileAnotherWindowIsModal) {
  for (int id : {corvale::ui::kIdOk, corvale::ui::kIdCancel}) {
    CSearchSuperDlg dialog(nullptr);
    QTimer::singleShot(0, &dialog, [&] { FindControl<QPushButton>(&dialog, id)->click(); });
    EXPECT_EQ(dialog.DoModal(), id == corvale::ui::kIdOk ? QDialog::Accepted : QDialog::Rejected);
  }
  CSearchSuperDlg dialog(nullptr);
  dialog.BeginModalState();
  EXPECT_FALSE(dialog.isEnabled());
  dialog.EndModalState();
  EXPECT_TRUE(dialog.isEnabled());
}
