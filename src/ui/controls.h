#pragma once
// Controls made the way every window makes them: each carries its name as
// its object name, so that tests and the status line find it.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <initializer_list>

namespace tessel {

QLabel* NamedLabel(QWidget* parent, const char* name, const char* text);
// The window's title label "Label1": bold, larger than the body text.
QLabel* TitleLabel(QWidget* parent, const char* text, double scale = 1.4);
QPushButton* NamedButton(QWidget* parent, const char* name, const char* text);
QLineEdit* NamedField(QWidget* parent, const char* name);
// A list box tall enough for the given number of rows.
QListWidget* NamedList(QWidget* parent, const char* name, int rows, std::initializer_list<const char*> items = {});

}  // namespace tessel
