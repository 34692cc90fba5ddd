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

#include <iostream>

namespace {

int fail(int code, const std::string& message)
{
    return toolError("tavirel-cli", code, message);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    startTool("tavirel-cli");

    CliOptions options;
    std::string message;
    const ParseResult parsed = parseCliOptions(app.arguments(), options, message);
    if (parsed == ParseResult::Error)
        message += " (see --help)";
    const int answered = answerParse(parsed, message, "tavirel-cli", kExitUsage);
    if (answered >= 0)
        return answered;
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
    outputs.setErrorReport([](const std::string& text) { toolError("tavirel-cli", 0, text); });
    if (!outputs.open(options, message))
        return fail(kExitUsage, message);
    return runReceiver(options, outputs);
}
