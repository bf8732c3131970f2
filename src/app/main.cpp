// Tesselバックアップ管理: the data folder is the current directory; the
// program takes no arguments.
#include <QApplication>

#include "app/application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tessel::PrepareApplication();
    return tessel::RunProgram(app);
}
