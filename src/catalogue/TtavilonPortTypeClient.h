#pragma once

#include "catalogue/tavilonPortType.h"

#include <memory>

class TSoapClient;

// tavilonPortType over a SOAP client object: writes each call as an RPC/encoded request in the
// registered namespace, with the registered SOAPAction, and reads its answer.
class TtavilonPortTypeClient : public tavilonPortType {
public:
    explicit TtavilonPortTypeClient(std::shared_ptr<TSoapClient> client);

    QString registervideo(const QString& title, const ArrayOfstring& links) override;
    bool checkvideo(const ArrayOfstring& links) override;
    ArrayOfstring getvideos(qint64 start, qint64 limit, const QString& search,
                            qint64 type_) override;

    const TSoapClient& Client() const { return *client_; }

private:
    std::shared_ptr<TSoapClient> client_;
};
