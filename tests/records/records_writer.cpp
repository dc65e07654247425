// Commits records into a store from several threads at once, printing each
// record's id on its own line once commit has returned, until it is killed.
//   records_writer TARGET THREADS
#include "RecordSamples.h"
#include "RecordStores.h"

#include <QCoreApplication>

#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const std::unique_ptr<quobin::records::RecordStore> store =
        quobin::records::openRecordStore(QString::fromLocal8Bit(argv[1]));
    std::mutex output;
    std::vector<std::thread> threads;
    for (int t = 0; t < QByteArray(argv[2]).toInt(); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0;; ++i) {
                const quobin::records::BoardRecord record =
                    quobin::testing::sampleRecord(i, QStringLiteral("Com %1").arg(t + 1));
                store->commit(record);
                std::lock_guard lock(output);
                std::printf("%s\n", qPrintable(record.id.toString(QUuid::WithoutBraces)));
                std::fflush(stdout);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
}
