#include "ui/form1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    tarnis::Form1 form;
    form.show();
    return application.exec();
}
