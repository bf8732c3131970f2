#include "ui/controls.h"

namespace tessel {

QLabel* NamedLabel(QWidget* parent, const char* name, const char* text) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(name);
    return l;
}

QLabel* TitleLabel(QWidget* parent, const char* text, double scale) {
    QLabel* l = NamedLabel(parent, "Label1", text);
    QFont big = l->font();
    big.setPointSizeF(big.pointSizeF() * scale);
    big.setBold(true);
    l->setFont(big);
    return l;
}

QPushButton* NamedButton(QWidget* parent, const char* name, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    b->setObjectName(name);
    return b;
}

QLineEdit* NamedField(QWidget* parent, const char* name) {
    auto* f = new QLineEdit(parent);
    f->setObjectName(name);
    return f;
}

QListWidget* NamedList(QWidget* parent, const char* name, int rows, std::initializer_list<const char*> items) {
    auto* l = new QListWidget(parent);
    l->setObjectName(name);
    for (const char* item : items) l->addItem(QString::fromUtf8(item));
    l->setFixedHeight((l->fontMetrics().height() + 4) * rows + 2 * l->frameWidth() + 2);
    return l;
}

}  // namespace tessel
