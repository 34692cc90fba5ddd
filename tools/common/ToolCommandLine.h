// What every command-line tool of the project does alike: the start of main,
// the standard options, the answer to a parse, the error line.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <string>

enum class ParseResult { Run, Exit, Error };

// --help (-h) and --version, to be added with the tool's own options.
struct StandardOptions {
    QCommandLineOption help{{"h", "help"}, "Show this help and exit."};
    QCommandLineOption version{"version", "Show the version and exit."};
};

// Parses `arguments` with the options already added. Exit: --help or
// --version, with the text to print in `message` ("<program> <version>");
// Error: `message` says what is wrong (an unknown option, a positional
// argument); Run: go on reading the values.
ParseResult parseToolCommandLine(QCommandLineParser& parser, const StandardOptions& standard,
                                 const QStringList& arguments, const char* program, std::string& message);

// Prints "<program>: error: <message>" on standard error; returns `code`.
int toolError(const char* program, int code, const std::string& message);

// The answer to a parse in main: Exit prints the message and gives 0, Error
// prints the error line and gives `usageCode`; Run gives −1 (go on).
int answerParse(ParseResult parsed, const std::string& message, const char* program, int usageCode);

// The start of every tool's main: the application's name, and SIGPIPE ignored
// (a reader that goes away is a write error, not the end of the process).
void startTool(const char* program);
