#include "soap/TSoapMessage.h"

#include "soap/ESoapFault.h"
#include "soap/SoapNamespaces.h"

#include <QXmlStreamReader>
#include <utility>

namespace {

// Nesting of multi-reference values followed while decoding one value.
constexpr int MaxReferenceHops = 8;

bool IsXsi(QStringView uri) {
    return uri == soap::XsiNamespace || uri == soap::Xsi1999Namespace;
}
bool IsXsd(QStringView uri) {
    return uri == soap::XsdNamespace || uri == soap::Xsd1999Namespace;
}

// In-scope namespace declarations while reading, for the QName values of xsi:type and
// SOAP-ENC:arrayType (the reader resolves element and attribute names, not attribute values).
class TPrefixScope {
public:
    void Enter(const QXmlStreamNamespaceDeclarations& declarations) {
        marks_.push_back(declarations_.size());
        for (const auto& declaration : declarations)
            declarations_.emplace_back(declaration.prefix().toString(),
                                       declaration.namespaceUri().toString());
    }
    void Leave() {
        declarations_.resize(marks_.back());
        marks_.pop_back();
    }
    // Splits "prefix:local" and resolves the prefix; false for an undeclared prefix.
    bool Resolve(QStringView qname, QString& uri, QString& local) const {
        const qsizetype colon = qname.indexOf(QLatin1Char(':'));
        const QStringView prefix = colon < 0 ? QStringView() : qname.left(colon);
        local = (colon < 0 ? qname : qname.mid(colon + 1)).toString();
        if (prefix == u"xml") {
            uri = QStringLiteral("http://www.w3.org/XML/1998/namespace");
            return true;
        }
        for (auto it = declarations_.rbegin(); it != declarations_.rend(); ++it) {
            if (it->first == prefix) {
                uri = it->second;
                return true;
            }
        }
        uri.clear();
        return prefix.isEmpty();
    }

private:
    std::vector<std::pair<QString, QString>> declarations_;
    std::vector<size_t> marks_;
};

[[noreturn]] void Malformed(const QString& text) {
    throw ESoapFault::Client(QStringLiteral("Malformed SOAP message: ") + text);
}

void ReadAttributes(const QXmlStreamReader& xml, const TPrefixScope& scope, TSoapNode& node) {
    for (const QXmlStreamAttribute& attribute : xml.attributes()) {
        const QStringView ns = attribute.namespaceUri();
        const QStringView name = attribute.name();
        const QStringView value = attribute.value();
        if (IsXsi(ns) && name == u"type") {
            if (!scope.Resolve(value.trimmed(), node.TypeNamespace, node.TypeName))
                Malformed(QStringLiteral("undeclared prefix in xsi:type \"%1\"").arg(value));
        } else if (IsXsi(ns) && (name == u"nil" || name == u"null")) {
            node.Nil = value.trimmed() == u"true" || value.trimmed() == u"1";
        } else if (ns == soap::EncodingNamespace && name == u"arrayType") {
            QStringView type = value.trimmed();
            const qsizetype bracket = type.indexOf(QLatin1Char('['));
            if (bracket >= 0)
                type = type.left(bracket);
            if (!scope.Resolve(type, node.ArrayItemNamespace, node.ArrayItemType))
                Malformed(QStringLiteral("undeclared prefix in arrayType \"%1\"").arg(value));
            node.HasArrayType = true;
        } else if (ns.isEmpty() && name == u"href") {
            if (!value.startsWith(QLatin1Char('#')))
                Malformed(
                    QStringLiteral("only local references are accepted, not \"%1\"").arg(value));
            node.Href = value.mid(1).toString();
        } else if (ns.isEmpty() && name == u"id") {
            node.Id = value.toString();
        }
    }
}

// Reads the element at the reader's position, with everything inside it, into `node`.
void ReadElement(QXmlStreamReader& xml, TPrefixScope& scope, TSoapNode& node, int depth,
                 int& elements) {
    if (depth > TSoapMessage::MaxDepth)
        Malformed(QStringLiteral("elements nested deeper than %1").arg(TSoapMessage::MaxDepth));
    if (++elements > TSoapMessage::MaxElements)
        Malformed(QStringLiteral("more than %1 elements").arg(TSoapMessage::MaxElements));
    scope.Enter(xml.namespaceDeclarations());
    node.NamespaceUri = xml.namespaceUri().toString();
    node.Name = xml.name().toString();
    ReadAttributes(xml, scope, node);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            node.Children.emplace_back();
            ReadElement(xml, scope, node.Children.back(), depth + 1, elements);
            break;
        case QXmlStreamReader::Characters:
            node.Text += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            scope.Leave();
            return;
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            Malformed(QStringLiteral("document type declarations and entities are not accepted"));
        default:
            break;
        }
    }
    if (xml.hasError())
        Malformed(xml.errorString());
    Malformed(QStringLiteral("the document ends inside an element"));
}

const QString& ExpectedTypeName(TSoapType type) {
    static const QString names[] = {QStringLiteral("xsd:long"), QStringLiteral("xsd:string"),
                                    QStringLiteral("xsd:boolean"),
                                    QStringLiteral("an array of xsd:string")};
    return names[static_cast<int>(type)];
}

bool IsIntegerType(const QString& name) {
    static const QStringList names = {
        QStringLiteral("long"),           QStringLiteral("int"),
        QStringLiteral("integer"),        QStringLiteral("short"),
        QStringLiteral("byte"),           QStringLiteral("unsignedLong"),
        QStringLiteral("unsignedInt"),    QStringLiteral("unsignedShort"),
        QStringLiteral("unsignedByte"),   QStringLiteral("nonNegativeInteger"),
        QStringLiteral("positiveInteger")};
    return names.contains(name);
}

} // namespace

TSoapMessage TSoapMessage::Parse(const QByteArray& xmlText) {
    QXmlStreamReader xml(xmlText);
    TPrefixScope scope;
    TSoapNode envelope;
    int elements = 0;
    bool haveRoot = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
            Malformed(QStringLiteral("document type declarations and entities are not accepted"));
        if (token == QXmlStreamReader::StartElement) {
            if (haveRoot)
                Malformed(QStringLiteral("more than one root element"));
            ReadElement(xml, scope, envelope, 0, elements);
            haveRoot = true;
        }
    }
    if (xml.hasError())
        Malformed(xml.errorString());
    if (!haveRoot)
        Malformed(QStringLiteral("the message is empty"));
    if (envelope.Name != u"Envelope" || envelope.NamespaceUri != soap::EnvelopeNamespace)
        Malformed(QStringLiteral("the root element is not a SOAP 1.1 Envelope"));

    TSoapMessage message;
    TSoapNode* body = nullptr;
    for (TSoapNode& child : envelope.Children) {
        if (child.NamespaceUri == soap::EnvelopeNamespace && child.Name == u"Body") {
            body = &child;
            break;
        }
    }
    if (body == nullptr || body->Children.empty())
        Malformed(QStringLiteral("the Body is missing or empty"));
    for (size_t i = 1; i < body->Children.size(); ++i) {
        TSoapNode& value = body->Children[i];
        if (!value.Id.isEmpty())
            message.references_.insert(value.Id, std::move(value));
    }
    message.body_ = std::move(body->Children.front());
    return message;
}

bool TSoapMessage::IsFault() const {
    return body_.NamespaceUri == soap::EnvelopeNamespace && body_.Name == u"Fault";
}

void TSoapMessage::ThrowIfFault() const {
    if (!IsFault())
        return;
    const TSoapNode* code = body_.FindChild(QStringLiteral("faultcode"));
    const TSoapNode* text = body_.FindChild(QStringLiteral("faultstring"));
    QString codeText = code ? code->Text.trimmed() : QStringLiteral("Server");
    const qsizetype colon = codeText.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        codeText = codeText.mid(colon + 1);
    QString faultString = text ? text->Text : QString();
    if (faultString.isEmpty())
        faultString = QStringLiteral("SOAP fault ") + codeText;
    throw ESoapFault(codeText, faultString);
}

const TSoapNode& TSoapMessage::Resolve(const TSoapNode& node) const {
    const TSoapNode* current = &node;
    for (int hop = 0; !current->Href.isEmpty(); ++hop) {
        const auto it = references_.constFind(current->Href);
        if (it == references_.constEnd() || hop >= MaxReferenceHops)
            throw ESoapFault::Client(
                QStringLiteral("The reference \"#%1\" leads to no value").arg(current->Href));
        current = &it.value();
    }
    return *current;
}

TSoapValue TSoapMessage::Decode(const TSoapNode& accessor, TSoapType expected,
                                const QString& what) const {
    const TSoapNode& node = Resolve(accessor);
    const auto wrongType = [&]() -> ESoapFault {
        const QString found = node.HasType() ? QStringLiteral("\"%1\"").arg(node.TypeName)
                                             : QStringLiteral("no xsi:type");
        return ESoapFault::Client(QStringLiteral("The %1 must be %2, not %3")
                                      .arg(what, ExpectedTypeName(expected), found));
    };
    switch (expected) {
    case TSoapType::Long: {
        if (!IsXsd(node.TypeNamespace) || !IsIntegerType(node.TypeName))
            throw wrongType();
        bool ok = false;
        const qint64 number = node.Text.trimmed().toLongLong(&ok, 10);
        if (!ok)
            throw ESoapFault::Client(
                QStringLiteral("The %1 \"%2\" is not an xsd:long").arg(what, node.Text.left(40)));
        return TSoapValue::Long(number);
    }
    case TSoapType::String:
        if (node.Nil && (!node.HasType() || IsXsd(node.TypeNamespace)))
            return TSoapValue::String(QString());
        if (!IsXsd(node.TypeNamespace) || node.TypeName != u"string")
            throw wrongType();
        return TSoapValue::String(node.Text);
    case TSoapType::Boolean: {
        if (!IsXsd(node.TypeNamespace) || node.TypeName != u"boolean")
            throw wrongType();
        const QString text = node.Text.trimmed();
        if (text == u"true" || text == u"1")
            return TSoapValue::Boolean(true);
        if (text == u"false" || text == u"0")
            return TSoapValue::Boolean(false);
        throw ESoapFault::Client(
            QStringLiteral("The %1 \"%2\" is not an xsd:boolean").arg(what, text.left(40)));
    }
    case TSoapType::StringArray: {
        if (node.Nil)
            return TSoapValue::StringArray({});
        const bool encodedArray =
            node.TypeNamespace == soap::EncodingNamespace && node.TypeName == u"Array";
        // A named array type (such as ArrayOfstring) is accepted when it carries arrayType.
        if (!encodedArray && !(node.HasType() && node.HasArrayType))
            throw wrongType();
        if (node.HasArrayType &&
            !(IsXsd(node.ArrayItemNamespace) &&
              (node.ArrayItemType == u"string" || node.ArrayItemType == u"anyType" ||
               node.ArrayItemType == u"ur-type")) &&
            !(node.ArrayItemNamespace == soap::EncodingNamespace))
            throw ESoapFault::Client(QStringLiteral("The %1 must hold xsd:string items, not \"%2\"")
                                         .arg(what, node.ArrayItemType));
        QStringList items;
        items.reserve(static_cast<qsizetype>(node.Children.size()));
        for (const TSoapNode& itemAccessor : node.Children) {
            const TSoapNode& item = Resolve(itemAccessor);
            if (item.Nil) {
                items.append(QString());
                continue;
            }
            // Items of other simple schema types (a peer's integers) are read as their text.
            if ((item.HasType() && !IsXsd(item.TypeNamespace)) || !item.Children.empty())
                throw ESoapFault::Client(
                    QStringLiteral("The %1 holds an item that is not an xsd:string").arg(what));
            items.append(item.Text);
        }
        return TSoapValue::StringArray(std::move(items));
    }
    }
    throw wrongType();
}

const TSoapNode* TSoapMessage::FindParameter(const TSoapNode& operation, const QString& name,
                                             int position, const QStringList& allNames) {
    if (const TSoapNode* byName = operation.FindChild(name))
        return byName;
    if (position >= 0 && static_cast<size_t>(position) < operation.Children.size()) {
        const TSoapNode& candidate = operation.Children[static_cast<size_t>(position)];
        if (!allNames.contains(candidate.Name))
            return &candidate;
    }
    return nullptr;
}
