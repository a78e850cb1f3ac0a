// quorlink: a sample client of Veltrane's live weight feed.
#include "frm_client.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    quorlink::FrmClient window;
    window.show();
    return app.exec();
}
