// Round trip of one command and its reply: a frame through the line's owner and TZComm, the simulated
// ECU's answer over a pseudo-terminal, the watcher's notification delivered by a Qt event
// loop, reassembly and the accepted reply. Prints the median and the 99th percentile.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "ecu/LineOwner.h"
#include "ecu/Protocol.h"
#include "ecu/Zcomm.h"
#include "tools/ecu-sim/EcuSim.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    sim::EcuSim ecu;
    std::string error;
    if (!ecu.Start(&error)) {
        std::fprintf(stderr, "simulated ECU: %s\n", error.c_str());
        return 1;
    }
    TZComm comm;
    comm.SetPort(QString::fromStdString(ecu.SlavePath()));
    comm.SetBaudRate(19200);
    protocol::ReplyAssembler assembler{};
    LineOwner line(comm, assembler);
    bool answered = false;
    line.OnReply = [&](const protocol::Reply&) { answered = true; };
    comm.OnDataAvailable = [&](TZComm*) { line.ReceiveAvailable(); };
    if (!line.Open()) {
        std::fprintf(stderr, "cannot open %s\n", ecu.SlavePath().c_str());
        return 1;
    }

    const int warmup = 200, rounds = 5000;
    std::vector<double> micros;
    micros.reserve(rounds);
    const char letters[] = "GABCDEVFH";
    for (int i = 0; i < warmup + rounds; ++i) {
        answered = false;
        const auto start = std::chrono::steady_clock::now();
        line.Send(letters[i % 9], 0, 0);
        while (!answered) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        const auto end = std::chrono::steady_clock::now();
        if (i >= warmup) micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    comm.CloseConnection();
    std::sort(micros.begin(), micros.end());
    std::printf("round trip over %d commands: median %.1f us, p99 %.1f us, max %.1f us\n", rounds,
                bench::Median(micros), bench::Percentile(micros, 0.99), micros.back());
    return 0;
}
