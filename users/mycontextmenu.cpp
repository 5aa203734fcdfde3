#include "users/mycontextmenu.h"

MyContextMenu::MyContextMenu(QWidget *parent) : QMenu(parent)
{}
