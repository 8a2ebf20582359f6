#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "quorvel-scraper: the window and the headless front end come next.\n";
    return 0;
}
