// tavirel-cli: the receiver without its window. The same chain the window
// owns, fed from a file, standard input or a TCP IQ server, delivering the
// transport stream to files, standard output and the network.
#include "CliOptions.h"
#include "CliRun.h"
#include "SampleReader.h"
#include "Targets.h"
#include "TsOutputs.h"

#include "core/Log.h"

#include <QCoreApplication>

#include <csignal>
#include <iostream>

namespace {

int fail(int code, const std::string& message)
{
    std::cerr << "tavirel-cli: error: " << message << std::endl;
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tavirel-cli");
    std::signal(SIGPIPE, SIG_IGN);

    CliOptions options;
    std::string message;
    const ParseResult parsed = parseCliOptions(app.arguments(), options, message);
    if (parsed == ParseResult::Exit) {
        std::cout << message << std::flush;
        return kExitDone;
    }
    if (parsed == ParseResult::Error)
        return fail(kExitUsage, message + " (see --help)");
    // Nothing is opened before every target is known to be distinct: an
    // output opened for writing on the input file would destroy it.
    if (!resolveHostNames(options, message))
        return fail(kExitUsage, message);
    message = conflictingTargets(options);
    if (!message.empty())
        return fail(kExitUsage, message);
    if (options.input == InputKind::File && !SampleReader::readable(options.inputPath))
        return fail(kExitInput, "--input: cannot open '" + options.inputPath + "'");
    // Standard output carries only the transport stream then.
    if (options.stdoutCarriesTs())
        setLogToStderr(true);

    TsOutputs outputs;
    outputs.setErrorReport([](const std::string& text) { std::cerr << "tavirel-cli: error: " << text << std::endl; });
    if (!outputs.open(options, message))
        return fail(kExitUsage, message);
    return runReceiver(options, outputs);
}
