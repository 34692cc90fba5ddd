#include "Targets.h"

#include <QHostAddress>
#include <QHostInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <vector>

namespace {

bool resolve(std::string& host, const std::string& option, const std::string& spelled, std::string& message)
{
    const QString name = QString::fromStdString(host);
    if (!QHostAddress(name).isNull())
        return true;
    const QHostInfo info = QHostInfo::fromName(name);
    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        message = option + " " + spelled + ": cannot resolve '" + host + "'";
        return false;
    }
    QHostAddress chosen = addresses.first();
    for (const QHostAddress& a : addresses)
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            chosen = a;
            break;
        }
    host = chosen.toString().toStdString();
    return true;
}

std::string spelled(const OutputTarget& t)
{
    if (!t.text.empty())
        return t.text;
    switch (t.kind) {
    case OutputKind::Stdout: return "-";
    case OutputKind::File: return "file:" + t.path;
    case OutputKind::Udp: return "udp:" + t.host + ":" + std::to_string(t.port);
    case OutputKind::TcpListen: return "tcp-listen:" + t.host + ":" + std::to_string(t.port);
    }
    return "";
}

// A file as the system knows it: device and inode when it exists, its
// absolute path otherwise.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;

    bool sameAs(const FileIdentity& o) const
    {
        if (exists || o.exists)
            return exists && o.exists && device == o.device && inode == o.inode;
        return path == o.path;
    }
};

FileIdentity identityOfPath(const std::string& path)
{
    FileIdentity id;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    std::error_code ec;
    id.path = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec).string();
    return id;
}

// The regular file a standard stream is redirected from or to, if any.
std::optional<FileIdentity> identityOfStream(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    FileIdentity id;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    return id;
}

struct Place {
    std::string label;   // the option as given
    std::optional<FileIdentity> file;
    std::string network;   // kind, address and port of a network output
    bool stdoutStream = false;
};

} // namespace

bool resolveHostNames(CliOptions& o, std::string& message)
{
    if (o.input == InputKind::Tcp && !resolve(o.inputHost, "--input", o.inputText, message))
        return false;
    for (OutputTarget& t : o.outputs) {
        if (t.kind != OutputKind::Udp && t.kind != OutputKind::TcpListen)
            continue;
        const std::string as = spelled(t);
        if (!resolve(t.host, "--output", as, message))
            return false;
    }
    if (o.statusUdpPort > 0 &&
        !resolve(o.statusUdpHost, "--status-udp", o.statusUdpHost + ":" + std::to_string(o.statusUdpPort), message))
        return false;
    return true;
}

std::string conflictingTargets(const CliOptions& o)
{
    Place input;
    if (o.input == InputKind::File) {
        input.label = "--input file:" + o.inputPath;
        input.file = identityOfPath(o.inputPath);
    } else if (o.input == InputKind::Stdin) {
        input.label = "--input - (standard input)";
        input.file = identityOfStream(STDIN_FILENO);
    }

    std::vector<Place> written;
    for (const OutputTarget& t : o.outputs) {
        Place p;
        p.label = "--output " + spelled(t);
        switch (t.kind) {
        case OutputKind::File: p.file = identityOfPath(t.path); break;
        case OutputKind::Stdout:
            p.stdoutStream = true;
            p.file = identityOfStream(STDOUT_FILENO);
            break;
        case OutputKind::Udp:
        case OutputKind::TcpListen:
            p.network = std::string(t.kind == OutputKind::Udp ? "udp " : "tcp ") +
                        QHostAddress(QString::fromStdString(t.host)).toString().toStdString() + " " +
                        std::to_string(t.port);
            break;
        }
        written.push_back(p);
    }
    for (const RecordTarget& r : o.recordings) {
        Place p;
        p.label = "--record " + r.kind + ":" + r.path;
        p.file = identityOfPath(r.path);
        written.push_back(p);
    }
    if (!o.logPath.empty()) {
        Place p;
        p.label = "--log " + o.logPath;
        p.file = identityOfPath(o.logPath);
        written.push_back(p);
    }

    for (size_t i = 0; i < written.size(); ++i) {
        const Place& w = written[i];
        if (w.file && input.file && w.file->sameAs(*input.file))
            return w.label + " is the input (" + input.label + ")";
        for (size_t j = 0; j < i; ++j) {
            const Place& v = written[j];
            const bool same = (w.stdoutStream && v.stdoutStream) ||
                              (!w.network.empty() && w.network == v.network) ||
                              (w.file && v.file && w.file->sameAs(*v.file));
            if (same)
                return w.label + " is the same target as " + v.label;
        }
    }
    return "";
}
