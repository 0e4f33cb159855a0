#include "dialogs/Korvex_ModbusRTU_About.h"

#include <QDesktopServices>
#include <QFrame>
#include <QMouseEvent>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/glyphs.h"
#include "app/message_timer.h"

const QString TAboutBox::kWebAddress = QStringLiteral("http://www.korvex-gas.ru");
const QString TAboutBox::kMailAddress = QStringLiteral("info@korvex-gas.ru");

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

namespace {
TClickLabel* LinkLabel(const QString& text, QWidget* parent) {
  auto* label = new TClickLabel(text, parent);
  QFont f = label->font();
  f.setUnderline(true);
  label->setFont(f);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, Qt::blue);
  label->setPalette(pal);
  label->setCursor(Qt::PointingHandCursor);
  label->setAlignment(Qt::AlignCenter);
  return label;
}
}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::About));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(274, 243);

  // White panel, raised inner and lowered outer bevel.
  auto* panel = new QFrame(this);
  panel->setGeometry(4, 4, 265, 185);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette white = panel->palette();
  white.setColor(QPalette::Window, Qt::white);
  panel->setPalette(white);
  auto* inner = new QFrame(panel);
  inner->setGeometry(2, 2, 261, 181);
  inner->setFrameShape(QFrame::Panel);
  inner->setFrameShadow(QFrame::Raised);

  Image1 = new QLabel(inner);
  Image1->setGeometry(5, 4, 250, 75);
  Image1->setPixmap(glyphs::Logo());

  auto* frame = new QFrame(inner);
  frame->setGeometry(5, 82, 250, 94);
  frame->setFrameShape(QFrame::StyledPanel);
  frame->setFrameShadow(QFrame::Sunken);
  auto* column = new QVBoxLayout(frame);
  column->setContentsMargins(4, 2, 4, 2);
  column->setSpacing(1);

  ProductName = new QLabel(QStringLiteral(u"Программа обмена газоанализатора Korvex"), frame);
  QFont bold = ProductName->font();
  bold.setPointSize(11);
  bold.setBold(true);
  ProductName->setFont(bold);
  ProductName->setAlignment(Qt::AlignCenter);
  ProductName->setWordWrap(true);
  QPalette black = ProductName->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  ProductName->setPalette(black);

  Version = new QLabel(QStringLiteral("ver. A.02 20.01.2011"), frame);
  QFont small = Version->font();
  small.setPointSize(8);
  Version->setFont(small);
  Version->setAlignment(Qt::AlignCenter);

  Label2 = LinkLabel(QStringLiteral("e-mail:") + kMailAddress, frame);
  Label1 = LinkLabel(kWebAddress, frame);
  Label2->setToolTip(QStringLiteral(u"Написать письмо изготовителю"));
  Label1->setToolTip(QStringLiteral(u"Открыть сайт изготовителя"));

  column->addWidget(ProductName);
  column->addWidget(Version);
  column->addWidget(Label2);
  column->addWidget(Label1);

  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setGeometry(274 - 93 - 6, 243 - 37 - 8, 93, 37);
  SpeedButton1->setAutoRaise(true);
  SpeedButton1->setText(QStringLiteral("EXIT"));
  SpeedButton1->setIcon(glyphs::ExitIcon());
  SpeedButton1->setIconSize(QSize(20, 20));
  SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QFont exitFont = SpeedButton1->font();
  exitFont.setPointSize(12);
  exitFont.setBold(true);
  SpeedButton1->setFont(exitFont);
  SpeedButton1->setToolTip(QStringLiteral(u"Закрыть окно"));

  Timer1 = new TTimer(this);
  Timer1->SetInterval(5000);
  Timer1->OnTimer = [this] { Timer1Timer(); };

  connect(SpeedButton1, &QToolButton::clicked, this, &TAboutBox::SpeedButton1Click);
  connect(Label2, &TClickLabel::clicked, this, &TAboutBox::Label2Click);
  connect(Label1, &TClickLabel::clicked, this, &TAboutBox::Label1Click);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TAboutBox::FormActivate() { Timer1->SetEnabled(true); }

void TAboutBox::Timer1Timer() {
  Timer1->SetEnabled(false);
  Timer1->SetInterval(15000);  // every later showing stays 15 s
  close();
}

void TAboutBox::SpeedButton1Click() { close(); }

void TAboutBox::Label2Click() { QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + kMailAddress)); }

void TAboutBox::Label1Click() { QDesktopServices::openUrl(QUrl(kWebAddress)); }
