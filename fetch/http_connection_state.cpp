#include "fetch/http_connection_state.h"

#include "fetch/http_url.h"

void THttpConnectionState::Aim(const THttpUrlParts& url) {
    Protocol = url.Protocol;
    HostName = url.HostName;
    TargetHost = url.Host;
    TargetPort = url.Port.isEmpty() ? DefaultPort(url.Protocol) : url.Port;
    Port = TargetPort;
    Path = url.Path;
}

void THttpConnectionState::Aim(const THttpRelocation& target) {
    Path = target.Path;
    if (!target.NewTarget)
        return;
    Protocol = target.Protocol;
    HostName = target.HostName;
    Port = target.Port;
    TargetHost = target.Host;
    TargetPort = target.PortNamed ? target.Port : QString();
}

bool THttpConnectionState::AtCurrentTarget() const {
    return HostName == CurrentHost && Port == CurrentPort && Protocol == CurrentProtocol;
}

void THttpConnectionState::TakeTarget() {
    CurrentHost = HostName;
    CurrentPort = Port;
    CurrentProtocol = Protocol;
}
