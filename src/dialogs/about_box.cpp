#include "dialogs/about_box.h"

#include <QDesktopServices>
#include <QFrame>
#include <QMouseEvent>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/glyphs.h"
#include "platform/timer.h"
#include "platform/version.h"

const QString AboutBox::kWebAddress = QStringLiteral("http://www.korvex-gas.ru");
const QString AboutBox::kMailAddress = QStringLiteral("info@korvex-gas.ru");

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

namespace {
ClickLabel* linkLabel(const QString& text, QWidget* parent) {
  auto* label = new ClickLabel(text, parent);
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

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::About));
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

  auto* image = new QLabel(inner);
  image->setObjectName(QStringLiteral("Image1"));
  image->setGeometry(5, 4, 250, 75);
  image->setPixmap(glyphs::logo());

  auto* frame = new QFrame(inner);
  frame->setGeometry(5, 82, 250, 94);
  frame->setFrameShape(QFrame::StyledPanel);
  frame->setFrameShadow(QFrame::Sunken);
  auto* column = new QVBoxLayout(frame);
  column->setContentsMargins(4, 2, 4, 2);
  column->setSpacing(1);

  auto* productName = new QLabel(QStringLiteral(u"Программа обмена газоанализатора Korvex"), frame);
  QFont bold = productName->font();
  bold.setPointSize(11);
  bold.setBold(true);
  productName->setFont(bold);
  productName->setAlignment(Qt::AlignCenter);
  productName->setWordWrap(true);
  QPalette black = productName->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  productName->setPalette(black);

  auto* version = new QLabel(QStringLiteral("ver. A.02 20.01.2011"), frame);
  QFont small = version->font();
  small.setPointSize(8);
  version->setFont(small);
  version->setAlignment(Qt::AlignCenter);
  version->setToolTip(QStringLiteral(u"Версия сборки: " KORVEX_VERSION));

  auto* mail = linkLabel(QStringLiteral("e-mail:") + kMailAddress, frame);
  auto* web = linkLabel(kWebAddress, frame);
  mail->setToolTip(QStringLiteral(u"Написать письмо изготовителю"));
  web->setToolTip(QStringLiteral(u"Открыть сайт изготовителя"));

  column->addWidget(productName);
  column->addWidget(version);
  column->addWidget(mail);
  column->addWidget(web);

  auto* exit = new QToolButton(this);
  exit->setGeometry(274 - 93 - 6, 243 - 37 - 8, 93, 37);
  exit->setAutoRaise(true);
  exit->setText(QStringLiteral("EXIT"));
  exit->setIcon(glyphs::exitIcon());
  exit->setIconSize(QSize(20, 20));
  exit->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QFont exitFont = exit->font();
  exitFont.setPointSize(12);
  exitFont.setBold(true);
  exit->setFont(exitFont);
  exit->setToolTip(QStringLiteral(u"Закрыть окно"));

  timer_ = new Timer(5000, this);
  connect(timer_, &Timer::timeout, this, &AboutBox::onTimeout);

  setObjectName(QStringLiteral("AboutBox"));
  productName->setObjectName(QStringLiteral("ProductName"));
  version->setObjectName(QStringLiteral("Version"));
  mail->setObjectName(QStringLiteral("Label2"));
  web->setObjectName(QStringLiteral("Label1"));
  exit->setObjectName(QStringLiteral("SpeedButton1"));
  connect(exit, &QToolButton::clicked, this, &AboutBox::close);
  connect(mail, &ClickLabel::clicked, this,
          [] { QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + kMailAddress)); });
  connect(web, &ClickLabel::clicked, this, [] { QDesktopServices::openUrl(QUrl(kWebAddress)); });
}

void AboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  timer_->setEnabled(true);
}

void AboutBox::onTimeout() {
  timer_->setEnabled(false);
  timer_->setInterval(15000);  // every later showing stays 15 s
  close();
}
