// A broker far away, for bench/publish_far.sh: the tests' MQTT-aware proxy in front of a broker on
// 127.0.0.1, every packet delayed the given time each way. Prints the port it listens on, then
// runs until SIGINT or SIGTERM.
//
//   mqtt_delay_proxy BROKER_PORT ONE_WAY_MS
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/support/MqttProxy.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: mqtt_delay_proxy BROKER_PORT ONE_WAY_MS\n", stderr);
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr); // the proxy's thread inherits the mask
    CMqttProxy proxy(static_cast<uint16_t>(std::atoi(argv[1])));
    proxy.SetLatency(std::chrono::milliseconds(std::atoi(argv[2])));
    if (!proxy.Start()) {
        std::fputs("mqtt_delay_proxy: cannot listen\n", stderr);
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(proxy.Port()));
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
