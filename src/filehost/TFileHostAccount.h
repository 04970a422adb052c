#pragma once

#include <QString>

class THttpCli;

// The user's file-host account: the login form posted through a shared HTTP client, the "user"
// cookie that proves it, and the download addresses made with that cookie.
class TFileHostAccount {
public:
    // Hooks the client's cookie handler; `http` outlives the account.
    explicit TFileHostAccount(THttpCli& http);
    // Unhooks the cookie handler.
    ~TFileHostAccount();
    TFileHostAccount(const TFileHostAccount&) = delete;
    TFileHostAccount& operator=(const TFileHostAccount&) = delete;

    // The value of the file host's "user" cookie; empty means not logged in.
    QString UserCookie;

    // Shows the status window "Login into <domain> as user:<name>" and, when both texts are
    // non-empty, posts the login form; the cookie arrives through the cookie handler. A login
    // that starts while another waits on the client joins it and answers its outcome. An HTTP
    // failure is raised.
    bool Login(const QString& userName, const QString& password);
    bool IsLoggedIn() const { return !UserCookie.isEmpty(); }
    void Logout() { UserCookie.clear(); }
    // The account's download URL for a file-host link ("d=<id>"), or empty text.
    QString DownloadUrlFromLink(const QString& link) const;
    // The client's cookie handler: keeps the value of a "user=<value>;" cookie line.
    void HttpCliCookie(THttpCli* sender, const QString& data, bool& accept);

private:
    void PostLogin(const QString& userName, const QString& password);

    THttpCli& http_;
    // True while PostLogin's request is open on the client.
    bool loginRequestOpen_ = false;
};
