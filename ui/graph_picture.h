#pragma once

#include <QImage>
#include <QString>

namespace trelvane {

class Form1;

// The graph as a picture: Picture1 with the scale labels beside it, the hour and date labels and
// the tick marks under it (what the user sees around the graph, without the scroll buttons), at
// the screen's pixel ratio.
QImage GraphPicture(const Form1& form);

// The default file name of the picture, from the stamp of the newest measurement shown:
// "trelvane-2026-12-06-1437.png", or "trelvane.png" when the graph shows none.
QString GraphPictureName(const Form1& form);

// A right click on the graph opens its menu: "Copier l'image" puts the picture on the clipboard,
// "Enregistrer l'image..." writes it as PNG where a file dialog says.
void AddGraphPictureMenu(Form1& form);

}  // namespace trelvane
