// The yardstick of the desktop figures: a bare Qt Widgets window of the same size, shown at once.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle("bare");
  window.resize(599, 310);
  window.show();
  return application.exec();
}
