#include "test_main.h"
class T : public QObject { Q_OBJECT };
TK7V_TEST_MAIN(T)
#include "files_test.moc"
