#include "AboutDlg.h"

#include <QLabel>
#include <algorithm>
#include <QPushButton>

#include "AppIcon.h"
#include "DialogUnits.h"
#include "Window.h"
#include "VelmoraVersion.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("Velmora 정보"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);
  setFont(DialogFont());
  const CDialogUnits du(font());
  setFixedSize(du.X(235), du.Y(55));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  const QRect iconRect = du.ToPixels(11, 17, 20, 20);
  icon->setGeometry(iconRect);
  icon->setPixmap(VelmoraIcon().pixmap(std::min(iconRect.width(), iconRect.height())));

  // The version is the build's own (CMake's project VERSION), as --version says.
  auto* name = new QLabel(QStringLiteral("Velmora [WZB-K470] V" VELMORA_VERSION), this);
  name->setObjectName(QStringLiteral("name"));
  name->setGeometry(du.ToPixels(40, 10, 161, 8));

  auto* notice = new QLabel(QString::fromUtf8(kNotice), this);
  notice->setObjectName(QStringLiteral("notice"));
  notice->setGeometry(du.ToPixels(40, 25, 119, 8));

  auto* ok = new QPushButton(QString::fromUtf8("확인"), this);
  ok->setObjectName(QString::number(IDOK));
  ok->setGeometry(du.ToPixels(178, 34, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
