// A session manager for one client, driven from standard input: it prints the SESSION_MANAGER value
// to give the client, then "registered", "saved" after each save, "hint N" for a restart style hint
// and "closed". The line "checkpoint" asks for a save that ends nothing; "logout" asks for the save
// of a session that ends, then tells the client to die, and this program ends with it.
#include <X11/SM/SMlib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

IceConn ice = nullptr;
SmsConn client = nullptr;
bool dying = false;

void say(const char *line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

Status registerClient(SmsConn conn, SmPointer, char *previousId) {
    std::free(previousId);
    SmsRegisterClientReply(conn, SmsGenerateClientID(conn));
    say("registered");
    return 1;
}

void saveDone(SmsConn conn, SmPointer, Bool) {
    say("saved");
    if (dying) SmsDie(conn);
}

void setProperties(SmsConn, SmPointer, int count, SmProp **properties) {
    for (int i = 0; i < count; ++i) {
        if (!std::strcmp(properties[i]->name, SmRestartStyleHint) && properties[i]->num_vals == 1)
            std::printf("hint %d\n", *static_cast<unsigned char *>(properties[i]->vals[0].value));
        SmFreeProperty(properties[i]);
    }
    std::fflush(stdout);
    std::free(properties);
}

void closeConnection(SmsConn conn, SmPointer, int count, char **reasons) {
    SmFreeReasons(count, reasons);
    IceCloseConnection(SmsGetIceConnection(conn));
    SmsCleanUp(conn);
    client = nullptr;
    ice = nullptr;
    say("closed");
    if (dying) std::exit(0);
}

Status newClient(SmsConn conn, SmPointer, unsigned long *mask, SmsCallbacks *callbacks, char **) {
    client = conn;
    *mask = ~0UL;
    std::memset(callbacks, 0, sizeof *callbacks);
    // Only what Stowbay's toolkit sends; it asks for no interaction, no second phase and no
    // properties back.
    callbacks->register_client.callback = registerClient;
    callbacks->save_yourself_done.callback = saveDone;
    callbacks->close_connection.callback = closeConnection;
    callbacks->set_properties.callback = setProperties;
    callbacks->delete_properties.callback = [](SmsConn, SmPointer, int, char **) {};
    return 1;
}

} // namespace

int main() {
    char error[256];
    const auto anyHost = [](char *) -> Bool { return True; };
    int count = 0;
    IceListenObj *listeners = nullptr;
    if (!SmsInitialize("stowbay-tests", "1", newClient, nullptr, anyHost, sizeof error, error) ||
        !IceListenForConnections(&count, &listeners, sizeof error, error) || count > 8) {
        std::fprintf(stderr, "sessionmanager: %s\n", error);
        return 1;
    }
    for (int i = 0; i < count; ++i)
        IceSetHostBasedAuthProc(listeners[i], anyHost);
    char *ids = IceComposeNetworkIdList(count, listeners);
    say(ids);
    std::free(ids);
    while (true) {
        pollfd fds[10] = {{STDIN_FILENO, POLLIN, 0}};
        int n = 1;
        for (int i = 0; i < count; ++i)
            fds[n++] = {IceGetListenConnectionNumber(listeners[i]), POLLIN, 0};
        const bool connected = ice;
        if (connected) fds[n++] = {IceConnectionNumber(ice), POLLIN, 0};
        if (poll(fds, nfds_t(n), -1) < 0) return 1;
        if (fds[0].revents) {
            char line[64] = {};
            if (!std::fgets(line, sizeof line, stdin)) return 0;
            dying = !std::strncmp(line, "logout", 6);
            if (client) SmsSaveYourself(client, SmSaveBoth, dying, SmInteractStyleNone, False);
        }
        for (int i = 0; i < count && !ice; ++i) {
            if (!fds[i + 1].revents) continue;
            IceAcceptStatus status;
            ice = IceAcceptConnection(listeners[i], &status);
            while (ice && IceConnectionStatus(ice) == IceConnectPending)
                IceProcessMessages(ice, nullptr, nullptr);
        }
        if (connected && ice && fds[n - 1].revents &&
            IceProcessMessages(ice, nullptr, nullptr) == IceProcessMessagesIOError) {
            if (client)
                closeConnection(client, nullptr, 0, nullptr);
            else
                IceCloseConnection(ice), ice = nullptr;
        }
    }
}
