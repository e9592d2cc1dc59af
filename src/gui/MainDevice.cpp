// Transport choice, connection, bulk device commands and the secondary
// dialogs. These arrive with the link commands and the dialogs; until then
// the menu items exist and are bound, and choosing them does nothing.
#include "gui/Main.h"

void TForm1::COM11Click(QObject*) {}
void TForm1::NET1Click(QObject*) {}
void TForm1::N17Click(QObject*) {}
void TForm1::N18Click(QObject*) {}
void TForm1::TCPClient1Connected(QObject*) {}
void TForm1::N21Click(QObject*) {}
void TForm1::N20Click(QObject*) {}
void TForm1::N25Click(QObject*) {}
void TForm1::N6Click(QObject*) {}
void TForm1::N27Click(QObject*) {}
void TForm1::IP1Click(QObject*) {}
void TForm1::Timer1Timer(QObject*) {}
void TForm1::Image2MouseDown(QObject*) {}
void TForm1::Image2MouseUp(QObject*) {}
void TForm1::EQ3Click(QObject*) {}
void TForm1::N22Click(QObject*) {}
