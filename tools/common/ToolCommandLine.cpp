#include "ToolCommandLine.h"

#include "core/Version.h"

#include <QCoreApplication>

#include <csignal>
#include <iostream>

ParseResult parseToolCommandLine(QCommandLineParser& p, const StandardOptions& standard, const QStringList& arguments,
                                 const char* program, std::string& message)
{
    if (!p.parse(arguments)) {
        message = p.errorText().toStdString();
        return ParseResult::Error;
    }
    if (p.isSet(standard.help)) {
        message = p.helpText().toStdString();
        return ParseResult::Exit;
    }
    if (p.isSet(standard.version)) {
        message = std::string(program) + " " + kAppVersion + "\n";
        return ParseResult::Exit;
    }
    if (!p.positionalArguments().isEmpty()) {
        message = "unexpected argument '" + p.positionalArguments().first().toStdString() + "'";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

int toolError(const char* program, int code, const std::string& message)
{
    std::cerr << program << ": error: " << message << std::endl;
    return code;
}

int answerParse(ParseResult parsed, const std::string& message, const char* program, int usageCode)
{
    if (parsed == ParseResult::Exit) {
        std::cout << message << std::flush;
        return 0;
    }
    if (parsed == ParseResult::Error)
        return toolError(program, usageCode, message);
    return -1;
}

void startTool(const char* program)
{
    QCoreApplication::setApplicationName(program);
    std::signal(SIGPIPE, SIG_IGN);
}
