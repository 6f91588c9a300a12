// Pacing of the reader link against a peer that answers on its own thread,
// over loopback TCP and over a pty (8-bit framed form): poll period, delay
// from a late reply to the next request, time-out lateness, and the CPU time
// the link takes per minute of polling.
// Usage: bench_link [seconds per scenario, default 10]
#include "link/CommThreadU.h"
#include "ports/ComPort.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <numeric>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

enum class TPolicy { Prompt, Late, SilentEveryFourth };

// The module's side: decodes requests, records when each arrived, answers by
// the policy. Runs on its own thread so its CPU time can be told apart.
class TPeer {
public:
    TPeer(int fd, TPolicy policy)
        : FFd(fd)
        , FPolicy(policy)
    {
        FThread = std::thread([this] { Run(); });
    }
    ~TPeer() { Finish(); }
    // Stops the thread; returns the CPU time it took.
    double Finish()
    {
        if (FThread.joinable()) {
            FStop = true;
            FThread.join();
            ::close(FFd);
        }
        return FCpu;
    }
    std::vector<Clock::time_point> Arrivals() { std::lock_guard l(FLock); return FArrivals; }
    std::vector<Clock::time_point> Unanswered() { std::lock_guard l(FLock); return FUnanswered; }
    // (reply written, next request arrived) pairs
    std::vector<double> ReplyToNextMs() { std::lock_guard l(FLock); return FReplyToNext; }

private:
    void Run()
    {
        TFramed8Receiver rx;
        Clock::time_point lastReply{};
        bool replied = false; // since the last request
        std::optional<std::pair<Clock::time_point, TByteString>> pending;
        int index = 0;
        while (!FStop) {
            pollfd p{FFd, POLLIN, 0};
            int wait = 20;
            if (pending)
                wait = std::max(0, int(std::chrono::duration_cast<std::chrono::milliseconds>(pending->first - Clock::now()).count()));
            ::poll(&p, 1, wait);
            if (pending && Clock::now() >= pending->first) {
                Write(pending->second);
                lastReply = Clock::now();
                replied = true;
                pending.reset();
            }
            if (!(p.revents & POLLIN))
                continue;
            char buf[256];
            const ssize_t n = ::read(FFd, buf, sizeof buf);
            if (n <= 0)
                break;
            const auto now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                auto judged = rx.Feed(TByteString(1, buf[i]));
                if (!judged || !std::holds_alternative<TGoodReply>(*judged))
                    continue;
                const TCanonicalFrame request = std::get<TGoodReply>(*judged).frame;
                const TByteString reply = EncodeFramed8(BuildFrame(QByteArray::fromHex("010bb50000000000000000000000").replace(0, 1, request.left(1))));
                std::lock_guard l(FLock);
                FArrivals.push_back(now);
                if (replied && FPolicy == TPolicy::Late)
                    FReplyToNext.push_back(Ms(now - lastReply).count());
                replied = false;
                ++index;
                if (FPolicy == TPolicy::SilentEveryFourth && index % 4 == 0)
                    FUnanswered.push_back(now);
                else if (FPolicy == TPolicy::Late)
                    pending = {now + std::chrono::milliseconds(300), reply};
                else
                    Write(reply);
            }
        }
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        FCpu = ts.tv_sec + ts.tv_nsec / 1e9;
    }
    void Write(const TByteString& bytes) { (void)!::write(FFd, bytes.constData(), bytes.size()); }

    int FFd;
    TPolicy FPolicy;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<Clock::time_point> FArrivals, FUnanswered;
    std::vector<double> FReplyToNext;
    double FCpu = 0;
    std::thread FThread;
};

double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p / 100.0 * double(v.size())))];
}

struct TRun {
    std::vector<Clock::time_point> arrivals, unanswered, timeouts;
    std::vector<double> replyToNext;
    double linkCpu = 0, seconds = 0;
};

// Opens the link to a fresh peer, runs it for the given time, closes it.
TRun RunScenario(bool tcp, TPolicy policy, double seconds)
{
    TCommThread link;
    std::unique_ptr<TPeer> peer;
    int listener = -1;
    if (tcp) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener, 1);
        socklen_t len = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        link.SetIPAddress("127.0.0.1");
        link.SetIPPort(ntohs(a.sin_port));
        link.SetLANMode(true);
    } else {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        link.SetLANMode(false);
        link.DataBits = 8;
        link.ComPort().SetPort(QString::fromLocal8Bit(ptsname(master)));
        peer = std::make_unique<TPeer>(master, policy);
    }
    TRun run;
    link.OnTimeout = [&run](TCommThread*) { run.timeouts.push_back(Clock::now()); };
    link.OnOpen = [&](TCommThread*) {
        if (tcp && !peer)
            peer = std::make_unique<TPeer>(::accept(listener, nullptr, nullptr), policy);
    };
    const double cpuBefore = ProcessCpuSeconds();
    link.Open();
    QTimer::singleShot(int(seconds * 1000), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    link.Close();
    run.linkCpu = ProcessCpuSeconds() - cpuBefore;
    run.seconds = seconds;
    if (peer) {
        run.arrivals = peer->Arrivals();
        run.unanswered = peer->Unanswered();
        run.replyToNext = peer->ReplyToNextMs();
        run.linkCpu -= peer->Finish(); // what is left is the link's and the event loop's
    }
    if (listener >= 0)
        ::close(listener);
    return run;
}

void Report(const char* transport, double seconds)
{
    const TRun prompt = RunScenario(transport[0] == 'T', TPolicy::Prompt, seconds);
    std::vector<double> periods;
    for (size_t i = 1; i < prompt.arrivals.size(); ++i)
        periods.push_back(Ms(prompt.arrivals[i] - prompt.arrivals[i - 1]).count());
    double mean = 0;
    for (double p : periods)
        mean += p / double(periods.size());

    const TRun late = RunScenario(transport[0] == 'T', TPolicy::Late, seconds);
    const TRun silent = RunScenario(transport[0] == 'T', TPolicy::SilentEveryFourth, seconds);
    std::vector<double> lateness;
    for (auto sent : silent.unanswered) {
        auto t = std::find_if(silent.timeouts.begin(), silent.timeouts.end(), [&](auto x) { return x > sent; });
        if (t != silent.timeouts.end())
            lateness.push_back(Ms(*t - sent).count() - 750.0);
    }
    std::printf("%s: %zu polls in %.0f s\n", transport, prompt.arrivals.size(), seconds);
    std::printf("  poll period ms        mean %.2f  p50 %.2f  p99 %.2f  max %.2f\n", mean,
                Percentile(periods, 50), Percentile(periods, 99), Percentile(periods, 100));
    std::printf("  late reply -> next ms mean %.2f  p99 %.2f  max %.2f  (%zu)\n",
                late.replyToNext.empty() ? 0 : std::accumulate(late.replyToNext.begin(), late.replyToNext.end(), 0.0) / double(late.replyToNext.size()),
                Percentile(late.replyToNext, 99), Percentile(late.replyToNext, 100), late.replyToNext.size());
    std::printf("  time-out lateness ms  p50 %.2f  p99 %.2f  max %.2f  (%zu)\n", Percentile(lateness, 50),
                Percentile(lateness, 99), Percentile(lateness, 100), lateness.size());
    std::printf("  link CPU while polling: %.3f s in %.0f s = %.3f %% of one core (%.2f s per minute)\n",
                prompt.linkCpu, seconds, 100.0 * prompt.linkCpu / seconds, 60.0 * prompt.linkCpu / seconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    Report("TCP loopback", seconds);
    Report("pty", seconds);
    return 0;
}
