// Draws the window's pictures into PNG files: the banner, the five large-slot states, the time
// background, the two port pictures and the program's icon. The PNGs beside this file are its
// output, compiled into the window; run it again (target mirk3-draw-pictures) after a change:
//   QT_QPA_PLATFORM=offscreen build/bin/mirk3-draw-pictures src/window/images
// Colours are chosen to be told apart from across a bench: grey idle, blue busy, green pass,
// red fail, amber reset.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>

namespace {

using Draw = std::function<void(QPainter&, const QRectF&)>;

bool Save(const QString& dir, const QString& name, QSize size, const Draw& draw) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  draw(painter, QRectF(QPointF(0, 0), QSizeF(size)));
  painter.end();
  const QString path = dir + "/" + name + ".png";
  if (image.save(path)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

// A rounded panel with a top-to-bottom gradient and a darker rim.
void Panel(QPainter& p, const QRectF& r, QColor top, QColor bottom, qreal radius) {
  QLinearGradient fill(r.topLeft(), r.bottomLeft());
  fill.setColorAt(0, top);
  fill.setColorAt(1, bottom);
  p.setBrush(fill);
  p.setPen(QPen(bottom.darker(140), 1.5));
  p.drawRoundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), radius, radius);
}

// A phone outline, the symbol of a slot, drawn faintly so that the slot's text stays readable.
void PhoneOutline(QPainter& p, const QRectF& r, QColor colour) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(colour, 2));
  p.drawRoundedRect(r, r.width() * 0.18, r.width() * 0.18);
  p.drawLine(QPointF(r.center().x() - r.width() * 0.15, r.bottom() - r.height() * 0.1),
             QPointF(r.center().x() + r.width() * 0.15, r.bottom() - r.height() * 0.1));
}

// The large slot: a coloured panel with the state's symbol at its right edge.
Draw LargeSlot(QColor top, QColor bottom, const std::function<void(QPainter&, QRectF)>& symbol) {
  return [=](QPainter& p, const QRectF& r) {
    Panel(p, r, top, bottom, 6);
    symbol(p, QRectF(r.right() - 26, r.bottom() - 26, 20, 20));
  };
}

void Tick(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(255, 255, 255, 95), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath path;
  path.moveTo(r.left(), r.center().y());
  path.lineTo(r.left() + r.width() * 0.4, r.bottom() - r.height() * 0.25);
  path.lineTo(r.right(), r.top() + r.height() * 0.2);
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

void Cross(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(255, 255, 255, 95), 3, Qt::SolidLine, Qt::RoundCap));
  const QRectF s(r.center().x() - 7, r.center().y() - 7, 14, 14);
  p.drawLine(s.topLeft(), s.bottomRight());
  p.drawLine(s.topRight(), s.bottomLeft());
}

void Arrow(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(255, 255, 255, 95), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const qreal x = r.center().x();
  p.drawLine(QPointF(x, r.top() + 2), QPointF(x, r.bottom() - 2));
  p.drawLine(QPointF(x - 6, r.bottom() - 8), QPointF(x, r.bottom() - 2));
  p.drawLine(QPointF(x + 6, r.bottom() - 8), QPointF(x, r.bottom() - 2));
}

void Circle(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(255, 255, 255, 95), 3, Qt::SolidLine, Qt::RoundCap));
  const QRectF s(r.center().x() - 7, r.center().y() - 7, 14, 14);
  p.drawArc(s, 60 * 16, 300 * 16);
  p.drawLine(QPointF(s.center().x(), s.top() - 2), QPointF(s.center().x(), s.center().y()));
}

void Idle(QPainter& p, QRectF r) {
  PhoneOutline(p, QRectF(r.center().x() - 6, r.top() - 8, 12, r.height() + 6),
               QColor(90, 100, 115, 120));
}

void Banner(QPainter& p, const QRectF& r) {
  QLinearGradient fill(r.topLeft(), r.topRight());
  fill.setColorAt(0, QColor(16, 34, 64));
  fill.setColorAt(0.6, QColor(28, 66, 120));
  fill.setColorAt(1, QColor(18, 110, 150));
  p.setBrush(fill);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(r, 8, 8);
  // A row of phones on the right, some lit: the station at work.
  for (int i = 0; i < 8; ++i) {
    const QRectF phone(r.right() - 420 + i * 26, r.top() + 18, 16, 36);
    p.setBrush(i % 3 == 1 ? QColor(76, 196, 106, 200) : QColor(255, 255, 255, 40));
    p.setPen(QPen(QColor(255, 255, 255, 120), 1.5));
    p.drawRoundedRect(phone, 3, 3);
  }
  // The phone and arrow of the station's mark, left of the title line.
  PhoneOutline(p, QRectF(r.left() + 22, r.top() + 12, 28, 48), QColor(255, 255, 255, 220));
  p.setPen(QPen(QColor(120, 220, 255), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(r.left() + 36, r.top() + 20), QPointF(r.left() + 36, r.top() + 44));
  p.drawLine(QPointF(r.left() + 29, r.top() + 37), QPointF(r.left() + 36, r.top() + 44));
  p.drawLine(QPointF(r.left() + 43, r.top() + 37), QPointF(r.left() + 36, r.top() + 44));
  QFont font;
  font.setFamilies({"DejaVu Sans", "Sans Serif"});
  font.setPixelSize(30);
  font.setBold(true);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
  p.setFont(font);
  p.setPen(QColor(255, 255, 255, 200));
  p.drawText(r.adjusted(0, 0, -24, 0), Qt::AlignRight | Qt::AlignVCenter, "MIRK3");
}

void Icon(QPainter& p, const QRectF& r) {
  QLinearGradient fill(r.topLeft(), r.bottomRight());
  fill.setColorAt(0, QColor(28, 66, 120));
  fill.setColorAt(1, QColor(18, 110, 150));
  p.setBrush(fill);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(r.adjusted(8, 8, -8, -8), 40, 40);
  const QRectF phone(r.center().x() - 52, r.top() + 36, 104, 184);
  p.setBrush(QColor(255, 255, 255, 40));
  p.setPen(QPen(Qt::white, 10));
  p.drawRoundedRect(phone, 18, 18);
  p.setPen(QPen(QColor(120, 220, 255), 16, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const qreal x = phone.center().x();
  p.drawLine(QPointF(x, phone.top() + 36), QPointF(x, phone.bottom() - 50));
  p.drawLine(QPointF(x - 30, phone.bottom() - 80), QPointF(x, phone.bottom() - 50));
  p.drawLine(QPointF(x + 30, phone.bottom() - 80), QPointF(x, phone.bottom() - 50));
  p.setPen(QPen(Qt::white, 8, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(x - 22, phone.bottom() - 20), QPointF(x + 22, phone.bottom() - 20));
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: mirk3-draw-pictures IMAGE-DIR ICON-DIR\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  const QSize large(103, 65), strip(103, 23);
  bool ok = true;
  ok &= Save(dir, "banner", QSize(856, 72), Banner);
  ok &=
      Save(dir, "slot_idle", large, LargeSlot(QColor(226, 230, 236), QColor(196, 202, 212), Idle));
  ok &= Save(dir, "slot_progress", large,
             LargeSlot(QColor(124, 190, 242), QColor(64, 140, 214), Arrow));
  ok &= Save(dir, "slot_pass", large, LargeSlot(QColor(112, 214, 132), QColor(46, 160, 84), Tick));
  ok &= Save(dir, "slot_fail", large, LargeSlot(QColor(244, 118, 118), QColor(204, 48, 56), Cross));
  ok &= Save(dir, "slot_reset", large,
             LargeSlot(QColor(252, 204, 104), QColor(226, 150, 24), Circle));
  ok &= Save(dir, "time_background", strip, [](QPainter& p, const QRectF& r) {
    Panel(p, r, QColor(255, 250, 214), QColor(240, 226, 150), 4);
  });
  ok &= Save(dir, "port_present", strip, [](QPainter& p, const QRectF& r) {
    Panel(p, r, QColor(200, 240, 208), QColor(132, 206, 150), 4);
  });
  ok &= Save(dir, "port_empty", strip, [](QPainter& p, const QRectF& r) {
    p.setBrush(QColor(240, 241, 243));
    p.setPen(QPen(QColor(170, 176, 186), 1.2, Qt::DashLine));
    p.drawRoundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
  });
  ok &= Save(QString::fromLocal8Bit(argv[2]), "mirk3", QSize(256, 256), Icon);
  return ok ? 0 : 1;
}
