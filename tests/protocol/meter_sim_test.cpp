#include <QtTest>
class MeterSimTest : public QObject {
  Q_OBJECT
};
QTEST_MAIN(MeterSimTest)
#include "meter_sim_test.moc"
