// The yardsticks of the desktop figures: a bare Qt Widgets window of the same size, shown at once;
// with --text, the same with one line of text (every real window shows some, and text brings in
// the font machinery: fontconfig, FreeType, HarfBuzz, a font file).

#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
  const bool text = argc > 1 && std::strcmp(argv[1], "--text") == 0;
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle("bare");
  window.resize(599, 310);
  if (text) (new QLabel("Statut :", &window))->move(24, 90);
  window.show();
  return application.exec();
}
