#pragma once

#include <QString>

#include <cstdint>

struct THttpUrlParts;
struct THttpRelocation;

// Where a client's request goes and what its connection is: the target (from URL
// or a followed Location), the place the open connection leads, and whether that
// connection serves on after the response. Belongs to the client and its thread.
struct THttpConnectionState {
    // Where the request goes and what it asks for.
    QString HostName, Port, Protocol, Path;
    // What the Host line names: the host as written, and a port only when named.
    QString TargetHost, TargetPort;
    // Where the open connection leads.
    QString CurrentHost, CurrentPort, CurrentProtocol;
    QString DnsResult;
    bool Connected = false;
    bool CloseReq = false; // close the connection once the response is complete
    // The request went out on a connection that had served before.
    bool SentOnKeptConnection = false;
    bool Resent = false; // this Get has sent its request again already
    bool CloseDelayedPending = false;
    // Counts the connections taken up, so a delayed close never ends a newer one.
    uint64_t Number = 0;
    int64_t ResponseBytes = 0; // received since the request went out

    // The request goes to `url` (its port, when none is written, by its scheme).
    void Aim(const THttpUrlParts& url);
    // The request follows a Location; an absolute one brings a new target.
    void Aim(const THttpRelocation& target);
    // The target is where the open connection leads (exact comparisons).
    bool AtCurrentTarget() const;
    // The connection about to be made, or taken up, leads to the target.
    void TakeTarget();
};
