#include "catalogue/TtavilonPortTypeClient.h"

#include "catalogue/CatalogueInterface.h"
#include "soap/TSoapClient.h"

TtavilonPortTypeClient::TtavilonPortTypeClient(std::shared_ptr<TSoapClient> client)
    : client_(std::move(client)) {}

QString TtavilonPortTypeClient::registervideo(const QString& title, const ArrayOfstring& links) {
    const TCatalogueInterface& interface = CatalogueInterface();
    const TSoapParameters parameters = {
        {interface.ExternalParameterName(QStringLiteral("title")), TSoapValue::String(title)},
        {interface.ExternalParameterName(QStringLiteral("links")), TSoapValue::StringArray(links)}};
    return client_->Invoke(QStringLiteral("registervideo"), parameters, TSoapType::String).Text;
}

bool TtavilonPortTypeClient::checkvideo(const ArrayOfstring& links) {
    const TCatalogueInterface& interface = CatalogueInterface();
    const TSoapParameters parameters = {
        {interface.ExternalParameterName(QStringLiteral("links")), TSoapValue::StringArray(links)}};
    return client_->Invoke(QStringLiteral("checkvideo"), parameters, TSoapType::Boolean).Flag;
}

ArrayOfstring TtavilonPortTypeClient::getvideos(qint64 start, qint64 limit, const QString& search,
                                                qint64 type_) {
    const TCatalogueInterface& interface = CatalogueInterface();
    const TSoapParameters parameters = {
        {interface.ExternalParameterName(QStringLiteral("start")), TSoapValue::Long(start)},
        {interface.ExternalParameterName(QStringLiteral("limit")), TSoapValue::Long(limit)},
        {interface.ExternalParameterName(QStringLiteral("search")), TSoapValue::String(search)},
        {interface.ExternalParameterName(QStringLiteral("type_")), TSoapValue::Long(type_)}};
    ArrayOfstring answer =
        client_->Invoke(QStringLiteral("getvideos"), parameters, TSoapType::StringArray).Items;
    if (answer.isEmpty())
        answer.append(QStringLiteral("0"));
    return answer;
}
