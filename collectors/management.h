#pragma once

#include <memory>
#include <string>
#include <vector>

#include "collectors/value.h"

// The management query interface: connect with a moniker, run a query, walk
// the result set, read properties. Every failure is a tavo::Error carrying
// the service's number and a description.
namespace tavo::wmi {

class Object {
  public:
    virtual ~Object() = default;
    // Read a property by name (case-insensitive, as the service matches).
    virtual Value get(const std::string& name) const = 0;
    // The names of `Properties_` in the service's order; each value is read with get().
    virtual std::vector<std::string> propertyNames() const = 0;
    // An array entry by index; the default reads the property and indexes it.
    virtual Value getAt(const std::string& name, int index) const { return get(name).at(index); }
};

class ResultSet {
  public:
    virtual ~ResultSet() = default;
    // The next object, or nullptr at the end. Throws when the walk fails
    // (for a class the service does not know, the first call throws).
    virtual std::unique_ptr<Object> next() = 0;
    // After a walk that found nothing: why, where the service can tell (a
    // source it could not read); "" otherwise.
    virtual std::string emptyReason() const { return {}; }
    // After a walk: the values the service meant to give and could not read
    // (a hung mount, a stuck process, a value cut at its limit), counted and
    // named, so the report can say it is incomplete; "" when none was lost.
    virtual std::string lostValues() const { return {}; }
};

class Connection {
  public:
    virtual ~Connection() = default;
    virtual std::unique_ptr<ResultSet> execQuery(const std::string& query) = 0;
};

// What the factory hands a computer name to: one per kind of service
// (the built-in Linux provider, WMI over COM, a test double).
class Backend {
  public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<Connection> connect(const std::string& computer) = 0;
    // The cycle has stopped: close the sessions kept for its passes (a
    // remote computer's connection). Must not block; a pass still out keeps
    // what it holds until it ends.
    virtual void closeSessions() {}
};

class ConnectionFactory {
  public:
    virtual ~ConnectionFactory() = default;
    // `moniker` is "winmgmts:\\" + computer + "\root\CIMV2".
    virtual std::unique_ptr<Connection> connect(const std::string& moniker) = 0;
    // Passed to the back ends when the window's or the report's cycle stops.
    virtual void closeSessions() {}
};

// "winmgmts:\\" + computer + "\root\CIMV2", as the collectors build it.
std::string monikerFor(const std::string& computer);

// The computer named in a moniker; throws tavo::Error (errc::kInvalidSyntax)
// naming the text when it is malformed: another namespace, a missing part,
// or a computer that is not target text (remote/target_text.h): a host name
// or address, optionally with a user, a port and a scheme.
std::string parseMoniker(const std::string& moniker);

// True for this computer: its host name or fully qualified name, ".",
// "localhost", a loopback address; case does not matter. A text with a
// user, a port or a scheme names a remote service and is never local.
bool isLocalComputer(const std::string& computer);

// The factory the app uses: parses the moniker, sends this computer to
// `local` and any other to `remote`. Without a remote back end, other
// computers fail to connect with an error naming the computer.
std::unique_ptr<ConnectionFactory> makeConnectionFactory(std::shared_ptr<Backend> local,
                                                         std::shared_ptr<Backend> remote = nullptr);

}  // namespace tavo::wmi
