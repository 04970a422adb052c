#pragma once

#include <QByteArray>
#include <QString>

// A WSDL 1.1 service description, read only for what a client needs: the SOAP address of a
// named port of a named service.
class TSoapWsdl {
public:
    // Fetches and reads the description at `url`; raises Exception when that fails.
    static TSoapWsdl Load(const QString& url);
    static TSoapWsdl Parse(const QByteArray& xml, const QString& origin);

    // The soap:address location of `port` in `service`; raises Exception when absent.
    QString EndpointOf(const QString& service, const QString& port) const;

private:
    QByteArray xml_;
    QString origin_;
};
