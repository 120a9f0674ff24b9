#include "controls/AttributesStates.h"

#include <QLabel>

#include "ui/Pictures.h"
#include "ui/Resources.h"

CAttributesStates::CAttributesStates(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  SetDrawFlag(false);
  setWindowTitle(QStringLiteral("About States"));
  // 128 x 122 dialog units with the legend at (14, 7), 102 x 97 units, in an 8-point font.
  const QPixmap legend = corvale::ui::LoadBitmapResource(corvale::ui::bitmap::kStatesLegend);
  auto* picture = new QLabel(this);
  picture->setPixmap(legend);
  picture->setGeometry(21, 11, legend.width(), legend.height());
  setFixedSize(192, 198);
}
