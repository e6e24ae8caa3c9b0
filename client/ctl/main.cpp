// QuorvexHelperCtl.exe: asks the installed helper what state it is in and drives it, for people
// (text, the default) and scripts (--json), through the client library's verified connection.

#include "client/ctl/ctl_command_line.hpp"
#include "client/ctl/doctor_advice.hpp"
#include "client/helper_client.hpp"
#include "client/log_follow.hpp"
#include "client/log_text.hpp"
#include "command/helper_command.hpp"
#include "common/helper_contract.hpp"
#include "platform/win32/system_dlls.hpp"
#include "platform/win32/wide.hpp"

#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace quorvex;
using namespace quorvex::client;
using namespace quorvex::client::ctl;
namespace json = boost::json;

// A failure as --json shows it: {"kind":...,"message":...,"causes":[...],"advice":...}.
json::object error_json(const ClientError& failure) {
    json::array causes;
    for (std::size_t i = 1; i < failure.error.links().size(); ++i) {
        causes.emplace_back(failure.error.links()[i]);
    }
    return json::object{{"kind", kind_name(failure.kind)},
                        {"message", failure.error.text()},
                        {"causes", std::move(causes)},
                        {"advice", advice_for(failure.kind)}};
}

// One --json line; DEL and C1 controls escaped too, for a terminal that shows it.
void print_json_line(const json::value& value) {
    std::cout << with_json_controls_escaped(json::serialize(value)) << '\n' << std::flush;
}

// What a command found, in order, and how it ended. Text shows the fields as "label: value"
// lines on standard output and a failure in the helper's "Error: ... Caused by:" form on standard
// error; --json writes one object with the same fields and the failure on standard output.
class Report {
public:
    explicit Report(bool json) : json_(json) {}

    void add(std::string_view key, std::string label, json::value value, std::string text) {
        fields_[key] = std::move(value);
        lines_.emplace_back(std::move(label), std::move(text));
    }
    // The failure that ends the command; the exit code follows from its kind.
    int fail(const ClientError& failure) {
        failure_ = failure;
        return exit_code_of(failure.kind);
    }
    // Text shown as it is, after the fields (the log lines).
    void add_text(std::string_view key, json::value value, std::string text) {
        fields_[key] = std::move(value);
        text_ = std::move(text);
    }
    void print() const {
        if (json_) {
            return print_json();
        }
        for (const auto& [label, text] : lines_) {
            std::cout << label << ": " << text << '\n';
        }
        std::cout << text_;
        std::cout.flush();
        if (!failure_) {
            return;
        }
        command::report_failure(failure_->error, std::cerr);
        std::cerr << "\nWhat to do: " << advice_for(failure_->kind) << '\n';
    }

private:
    void print_json() const {
        json::object out = fields_;
        if (failure_) {
            out["error"] = error_json(*failure_);
        }
        print_json_line(out);
    }

    bool json_;
    json::object fields_;
    std::vector<std::pair<std::string, std::string>> lines_;
    std::string text_;
    std::optional<ClientError> failure_;
};

std::string core_sha256_of(const CtlCommand& command) {
    return command.core_sha256.value_or(std::string(EXPECTED_CORE_SHA256));
}

// The service and its process, step by step, each step's finding reported before the next.
int report_service(Report& report, HelperClient& client, const std::string& core_sha256) {
    const auto state = client.system().service_state();
    if (!state) {
        if (state.error().kind == ClientErrorKind::ServiceNotInstalled) {
            report.add("installed", "installed", false, "no");
        }
        return report.fail(state.error());
    }
    report.add("installed", "installed", true, "yes");
    const std::string state_name(service_state_name(state->state));
    report.add("state", "state", json::string(state_name), state_name);
    if (auto running = require_running(*state); !running) {
        return report.fail(running.error());
    }
    report.add("pid", "process", state->pid, std::to_string(state->pid));
    const auto process = live_service_process(client.system(), state->pid);
    if (!process) {
        return report.fail(process.error());
    }
    const auto published = client.system().published_port();
    if (!published) {
        return report.fail(published.error());
    }
    report.add("port", "port", published->port, std::to_string(published->port));
    if (const auto connected = client.connect(); !connected) {
        report.add("listenerVerified", "listener", false, "NOT verified");
        return report.fail(connected.error());
    }
    report.add("listenerVerified", "listener", true, "verified: the helper service's");
    const auto ping = client.ping(core_sha256);
    if (!ping) {
        return report.fail(ping.error());
    }
    report.add("helperPath", "helper", json::string(ping->helper_path), ping->helper_path);
    report.add("protocol", "protocol", json::string(ping->protocol), ping->protocol);
    return EXIT_SUCCESS_CODE;
}

int run_ping(Report& report, HelperClient& client, const std::string& core_sha256) {
    const auto ping = client.ping(core_sha256);
    if (!ping) {
        return report.fail(ping.error());
    }
    report.add("helperPath", "helper", json::string(ping->helper_path), ping->helper_path);
    report.add("protocol", "protocol", json::string(ping->protocol), ping->protocol);
    return EXIT_SUCCESS_CODE;
}

int run_start(Report& report, HelperClient& client) {
    const auto started = client.start();
    if (!started) {
        return report.fail(started.error());
    }
    report.add("sessionId", "session", json::string(started->session_id), started->session_id);
    report.add("address", "address", json::string(started->address), started->address);
    report.add("pid", "pid", started->pid, std::to_string(started->pid));
    return EXIT_SUCCESS_CODE;
}

int run_stop(Report& report, HelperClient& client, const std::string& session_id) {
    const auto stopped = client.stop(session_id);
    if (!stopped) {
        return report.fail(stopped.error());
    }
    report.add("sessionId", "session", json::string(session_id), session_id);
    report.add("stopped", "stopped", *stopped == StopResult::Stopped, *stopped == StopResult::Stopped ? "yes" : "no");
    if (*stopped == StopResult::NotRunning) {
        report.add("reason", "reason", "notRunning", "no Core runs");
    }
    // Not an error reply: this session's Core is gone, replaced by a later start.
    if (*stopped == StopResult::SessionMismatch) {
        report.add("reason", "reason", "sessionMismatch",
                   "another session's Core runs: a later start replaced this session's Core");
        return EXIT_REQUEST_REFUSED;
    }
    return EXIT_SUCCESS_CODE;
}

std::atomic<bool> interrupted{false};

BOOL WINAPI on_console_interrupt(DWORD) {
    interrupted = true;
    return TRUE;
}

// Prints each line as it comes, as text or one JSON string per line, until Ctrl+C.
int follow_logs(bool as_json, HelperClient& client) {
    ::SetConsoleCtrlHandler(on_console_interrupt, TRUE);
    std::vector<std::string> shown;
    while (!interrupted) {
        const auto logs = client.logs();
        if (!logs) {
            Report report(as_json);
            const int code = report.fail(logs.error());
            report.print();
            return code;
        }
        auto lines = log_lines(*logs);
        for (const std::string& line : new_log_lines(shown, lines)) {
            if (as_json) {
                print_json_line(json::string(line));
            } else {
                std::cout << displayable_log_text(line) << '\n' << std::flush;
            }
        }
        shown = std::move(lines);
        for (int tick = 0; tick < 10 && !interrupted; ++tick) {
            ::Sleep(100);
        }
    }
    return EXIT_SUCCESS_CODE;
}

int run_logs(Report& report, HelperClient& client) {
    const auto logs = client.logs();
    if (!logs) {
        return report.fail(logs.error());
    }
    json::array lines;
    for (const std::string& line : log_lines(*logs)) {
        lines.emplace_back(line);
    }
    report.add_text("lines", std::move(lines), logs->empty() ? std::string() : displayable_log_text(*logs) + "\n");
    return EXIT_SUCCESS_CODE;
}

// Every check in order; the first that fails is named, with what to do about it.
int run_doctor(bool as_json, HelperClient& client, const std::string& core_sha256) {
    std::optional<ServiceState> state;
    std::optional<ServiceProcess> process;
    std::optional<PublishedPort> published;
    const std::vector<std::pair<std::string, std::function<ClientResult<void>()>>> checks{
        {"the helper service is installed",
         [&]() -> ClientResult<void> {
             auto found = client.system().service_state();
             if (!found) {
                 return std::unexpected(std::move(found.error()));
             }
             state = *found;
             return {};
         }},
        {"the service is running", [&] { return require_running(*state); }},
        {"its process is alive",
         [&]() -> ClientResult<void> {
             auto alive = live_service_process(client.system(), state->pid);
             if (!alive) {
                 return std::unexpected(std::move(alive.error()));
             }
             process = *alive;
             return {};
         }},
        {"it has published its port",
         [&]() -> ClientResult<void> {
             auto port = client.system().published_port();
             if (!port) {
                 return std::unexpected(std::move(port.error()));
             }
             published = *port;
             return {};
         }},
        {"the port was published after its process started", [&] { return check_port_is_fresh(*published, *process); }},
        {"the listener on the port is the service's",
         [&]() -> ClientResult<void> {
             auto connected = client.connect();
             if (!connected) {
                 return std::unexpected(std::move(connected.error()));
             }
             return {};
         }},
        {"the helper serves this account and expects this Core",
         [&]() -> ClientResult<void> {
             auto ping = client.ping(core_sha256);
             if (!ping) {
                 return std::unexpected(std::move(ping.error()));
             }
             return {};
         }},
    };
    json::array done;
    for (const auto& [name, check] : checks) {
        const auto outcome = check();
        if (as_json) {
            done.push_back(json::object{{"check", name}, {"ok", outcome.has_value()}});
        } else {
            std::cout << (outcome ? "ok      " : "FAILED  ") << name << '\n' << std::flush;
        }
        if (outcome) {
            continue;
        }
        if (as_json) {
            print_json_line(json::object{{"checks", std::move(done)}, {"error", error_json(outcome.error())}});
        } else {
            std::cout << '\n';
            command::report_failure(outcome.error().error, std::cerr);
            std::cerr << "\nWhat to do: " << advice_for(outcome.error().kind) << '\n';
        }
        return exit_code_of(outcome.error().kind);
    }
    if (as_json) {
        print_json_line(json::object{{"checks", std::move(done)}});
    } else {
        std::cout << "\nThe helper is ready.\n";
    }
    return EXIT_SUCCESS_CODE;
}

int run(const CtlCommand& command) {
    HelperClient client;
    if (command.verb == CtlVerb::Doctor) {
        return run_doctor(command.json, client, core_sha256_of(command));
    }
    if (command.verb == CtlVerb::Logs && command.follow) {
        return follow_logs(command.json, client);
    }
    Report report(command.json);
    int code = EXIT_SUCCESS_CODE;
    switch (command.verb) {
    case CtlVerb::Status:
        code = report_service(report, client, core_sha256_of(command));
        break;
    case CtlVerb::Ping:
        code = run_ping(report, client, core_sha256_of(command));
        break;
    case CtlVerb::Start:
        code = run_start(report, client);
        break;
    case CtlVerb::Stop:
        code = run_stop(report, client, command.session_id);
        break;
    case CtlVerb::Logs:
        code = run_logs(report, client);
        break;
    case CtlVerb::Doctor:
    case CtlVerb::Help:
        break;
    }
    report.print();
    return code;
}

} // namespace

int main() {
    // Output is byte-exact for scripts: line feeds, UTF-8.
    (void)::_setmode(::_fileno(stdout), _O_BINARY);
    (void)::_setmode(::_fileno(stderr), _O_BINARY);
    // Before the command runs: no DLL may come from the tool's own folder, and one that cannot
    // load fails here rather than at its first use.
    if (Result<void> loaded = win32::load_dlls_from_system_directory_only(); !loaded) {
        command::report_failure(loaded.error(), std::cerr);
        return EXIT_FAILED;
    }
    const auto args = command::helper_arguments(win32::as_u16(::GetCommandLineW()));
    const auto command = parse_ctl_command(args);
    if (!command) {
        command::report_failure(command.error(), std::cerr);
        std::cerr << '\n' << CTL_USAGE;
        return EXIT_USAGE;
    }
    if (command->verb == CtlVerb::Help) {
        std::cout << CTL_USAGE;
        return EXIT_SUCCESS_CODE;
    }
    try {
        return run(*command);
    } catch (const std::exception& error) {
        // Allocation failures and the like: still the failure report, never an abort.
        command::report_failure(Error::message(error.what()).context("QuorvexHelperCtl failed"), std::cerr);
        return EXIT_FAILED;
    }
}
