#include "sweep/arphelperprocess.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

namespace {

constexpr char helperName[] = "devicefinder-arp";
// An answer's line is far shorter.
constexpr std::size_t maxLine = 128;

void closeDescriptor(int &descriptor)
{
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
}

// Whatever the helper writes is data: bounded here, and escaped where it is shown.
QString printable(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size())).trimmed().left(300);
}

} // namespace

QString ArpHelperProcess::find()
{
    if (qEnvironmentVariableIsSet("DEVICEFINDER_ARP_HELPER"))
        return qEnvironmentVariable("DEVICEFINDER_ARP_HELPER");
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QDir folder = QFileInfo(self).absoluteDir();
    const QString name = QString::fromLatin1(helperName);
    for (const QString &candidate : {folder.filePath(name), folder.filePath(QStringLiteral("../lib/devicefinder/") + name)}) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return {};
}

bool ArpHelperProcess::start(const QString &program, std::string input, QString *why)
{
    int input2[2], output2[2], errors2[2];
    // Its input is a socket, so that a write to a helper that has gone raises no SIGPIPE.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input2) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::pipe2(output2, O_CLOEXEC) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(input2[0]), ::close(input2[1]);
        return false;
    }
    if (::pipe2(errors2, O_CLOEXEC) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(input2[0]), ::close(input2[1]), ::close(output2[0]), ::close(output2[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input2[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output2[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errors2[1], STDERR_FILENO);
    // Signals at their defaults in the helper, whatever this program blocks or ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // In a process group of its own: a signal to this program's job (Ctrl-C at a terminal, a
    // `timeout`) is this program's to act on, and it stops the helper by ending its input. A
    // helper that died of it first would leave its sweep part way.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const QByteArray path = QFile::encodeName(program);
    char *argv[] = {const_cast<char *>(helperName), nullptr};
    const int spawned = ::posix_spawn(&m_pid, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input2[0]), ::close(output2[1]), ::close(errors2[1]);
    m_input = input2[1];
    m_output = output2[0];
    m_errors = errors2[0];
    for (const int descriptor : {m_input, m_output, m_errors})
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    if (spawned != 0) {
        m_pid = -1;
        *why = QString::fromLocal8Bit(std::strerror(spawned));
        return false;
    }
    m_unwritten = std::move(input);
    return true;
}

ArpHelperProcess::Status ArpHelperProcess::write()
{
    while (!m_unwritten.empty()) {
        const ssize_t wrote = ::send(m_input, m_unwritten.data(), m_unwritten.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
            // The helper has gone: its output's end says why.
            m_unwritten.clear();
            return Status::Failed;
        }
        if (wrote < 0)
            return Status::Open;
        m_unwritten.erase(0, std::size_t(wrote));
    }
    // The input stays open: its end tells the helper to stop.
    return Status::Open;
}

ArpHelperProcess::Status ArpHelperProcess::read(std::deque<ArpAnswer> &answers, std::size_t room)
{
    char buffer[4096];
    while (answers.size() < room) {
        // A whole line read before, first.
        if (const std::size_t newline = m_partial.find('\n'); newline != std::string::npos) {
            const std::optional<ArpAnswer> answer = parseAnswerLine(std::string_view(m_partial).substr(0, newline));
            if (!answer)
                return Status::Failed;
            answers.push_back(*answer);
            m_partial.erase(0, newline + 1);
            continue;
        }
        if (m_partial.size() > maxLine)
            return Status::Failed;
        // Little at a time, so that what is read stays bounded by `room`.
        const ssize_t got = ::read(m_output, buffer, std::min(sizeof buffer, (room - answers.size()) * 8 + 64));
        if (got == 0)
            return Status::Ended;
        if (got < 0)
            return errno == EAGAIN || errno == EINTR ? Status::Open : Status::Failed;
        m_partial.append(buffer, std::size_t(got));
    }
    return Status::Open;
}

QString ArpHelperProcess::exitReason(ArpExit *code)
{
    // Its output ended, so it is ending: given half a second, then killed.
    int status = 0;
    pid_t reaped = -1;
    int waitError = ECHILD;
    if (m_pid > 0) {
        if (const int process = int(::syscall(SYS_pidfd_open, m_pid, 0)); process >= 0) {
            pollfd exited{process, POLLIN, 0};
            ::poll(&exited, 1, 500);
            ::close(process);
        }
        reaped = ::waitpid(m_pid, &status, WNOHANG);
        if (reaped == 0) {
            ::kill(m_pid, SIGKILL);
            while ((reaped = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
            }
        }
        waitError = errno;
    }
    m_pid = -1;
    char buffer[1024];
    const ssize_t got = ::read(m_errors, buffer, sizeof buffer);
    std::string text = got > 0 ? std::string(buffer, std::size_t(got)) : std::string();
    text = text.substr(0, text.find('\n'));
    // An exit that cannot be read is no clean one.
    if (reaped <= 0) {
        *code = ArpExit::Failed;
        return QStringLiteral("its exit cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(waitError)));
    }
    if (WIFEXITED(status)) {
        *code = ArpExit(WEXITSTATUS(status));
        return text.empty() ? QStringLiteral("it exited with status %1").arg(WEXITSTATUS(status)) : printable(text);
    }
    *code = ArpExit::Failed;
    return QStringLiteral("it ended by signal %1").arg(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

ArpHelperProcess::~ArpHelperProcess()
{
    closeDescriptor(m_input);
    closeDescriptor(m_output);
    closeDescriptor(m_errors);
    if (m_pid <= 0)
        return;
    // Its input's end stops it at once; a helper that has not noticed yet is killed.
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}
