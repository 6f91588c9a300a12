#pragma once
// A throw-away PostgreSQL server from Debian's server binaries: a cluster in
// a temporary folder, reached only through a unix socket in that folder, and
// stopped at the end. The server refuses to run as root, so under root it
// runs as nobody. It is the test's own child and ends with the test, also
// with one that crashed.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>
#include <functional>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

class TPostgresCluster {
public:
    // binDir: the folder of initdb, postgres and psql.
    explicit TPostgresCluster(const QString& binDir)
        : FBin(binDir)
    {
    }
    TPostgresCluster(const TPostgresCluster&) = delete;
    TPostgresCluster& operator=(const TPostgresCluster&) = delete;
    ~TPostgresCluster() { StopServer(); }

    // Creates the cluster and starts it; false with what went wrong.
    bool Start(QString& why)
    {
        const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        if (nobody) {
            FUid = nobody->pw_uid;
            FGid = nobody->pw_gid;
            if (::chown(QFile::encodeName(FDir.path()).constData(), FUid, FGid) != 0) {
                why = QStringLiteral("cannot hand %1 to nobody").arg(FDir.path());
                return false;
            }
        }
        if (!FDir.isValid()
            || !Server(QStringLiteral("initdb"), {QStringLiteral("-D"), Data(), QStringLiteral("-U"), User,
                                                  QStringLiteral("-A"), QStringLiteral("trust"),
                                                  QStringLiteral("-E"), QStringLiteral("UTF8"),
                                                  QStringLiteral("--no-locale"), QStringLiteral("--no-sync"),
                                                  QStringLiteral("--no-instructions")},
                       why))
            return false;
        // no TCP, and no waiting for the disk (a crash of the server still
        // loses no commit; one of the machine is of no concern here)
        QFile conf(Data() + QStringLiteral("/postgresql.conf"));
        if (!conf.open(QIODevice::Append)
            || conf.write(QStringLiteral("listen_addresses = ''\nunix_socket_directories = '%1'\nport = %2\n"
                                         "fsync = off\nfull_page_writes = off\n")
                              .arg(FDir.path())
                              .arg(Port)
                              .toUtf8())
                   < 0) {
            why = QStringLiteral("cannot configure %1").arg(conf.fileName());
            return false;
        }
        conf.close();
        return StartServer(why);
    }
    bool StartServer(QString& why)
    {
        FServer = std::make_unique<QProcess>();
        FServer->setProcessChannelMode(QProcess::MergedChannels);
        FServer->setWorkingDirectory(FDir.path());
        FServer->setChildProcessModifier(ChildSetUp());
        FServer->start(QDir(FBin).filePath(QStringLiteral("postgres")), {QStringLiteral("-D"), Data()});
        QByteArray log;
        const QDeadlineTimer deadline(WaitMs);
        while (!log.contains("ready to accept connections")) {
            if (!FServer->waitForReadyRead(int(deadline.remainingTime()))) {
                why = QStringLiteral("postgres did not start: %1 %2")
                          .arg(FServer->errorString(), QString::fromLocal8Bit(log + FServer->readAll()));
                StopServer();
                return false;
            }
            log += FServer->readAll();
        }
        return true;
    }
    // Stops the server at once, closing every connection, as a crash would.
    void StopServer()
    {
        if (!FServer)
            return;
        // SIGQUIT: the server's immediate shutdown, which ends its sessions too
        if (FServer->state() != QProcess::NotRunning) {
            ::kill(pid_t(FServer->processId()), SIGQUIT);
            FServer->waitForFinished(WaitMs);
        }
        FServer.reset();
    }

    // postgresql://vyx@/DATABASE?host=FOLDER&port=PORT, and with a schema
    // as the one whose tables are found
    QString Url(const QString& database, const QString& schema = {}) const
    {
        // one arg(): the encoded folder holds "%2F", which a second arg() would fill
        return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4%5")
            .arg(User, database, QString::fromLatin1(QUrl::toPercentEncoding(FDir.path())), QString::number(Port),
                 schema.isEmpty() ? QString() : QStringLiteral("&options=-csearch_path%3D") + schema);
    }
    // Runs SQL in the database as the cluster's superuser.
    bool Sql(const QString& database, const QString& sql)
    {
        return Client(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                               QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), database,
                                               QStringLiteral("-c"), sql});
    }

private:
    static constexpr int Port = 5432;
    static constexpr int WaitMs = 30000;
    inline static const QString User = QStringLiteral("vyx");

    QString Data() const { return FDir.filePath(QStringLiteral("data")); }

    // In the child: nobody's ids when the test is root (the parent-death
    // signal after them, since a change of ids clears it), and SIGQUIT, the
    // server's immediate shutdown, when the test ends without stopping it.
    std::function<void()> ChildSetUp() const
    {
        const uid_t uid = FUid;
        const gid_t gid = FGid;
        return [uid, gid] {
            if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
                ::_exit(127);
            ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
        };
    }
    bool Server(const QString& program, const QStringList& args, QString& why)
    {
        QProcess process;
        process.setWorkingDirectory(FDir.path());
        process.setChildProcessModifier(ChildSetUp());
        return Finish(process, program, args, why);
    }
    bool Client(const QString& program, const QStringList& args)
    {
        QProcess process;
        QString why;
        return Finish(process, program,
                      QStringList{QStringLiteral("-h"), FDir.path(), QStringLiteral("-p"), QString::number(Port),
                                  QStringLiteral("-U"), User}
                          + args,
                      why);
    }
    bool Finish(QProcess& process, const QString& program, const QStringList& args, QString& why)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QDir(FBin).filePath(program), args);
        const bool ok = process.waitForFinished(WaitMs) && process.exitStatus() == QProcess::NormalExit
                        && process.exitCode() == 0;
        if (!ok)
            why = QStringLiteral("%1 failed: %2 %3").arg(program, process.errorString(),
                                                         QString::fromLocal8Bit(process.readAll()));
        return ok;
    }

    QString FBin;
    QTemporaryDir FDir;
    uid_t FUid = 0;
    gid_t FGid = 0;
    std::unique_ptr<QProcess> FServer;
};
