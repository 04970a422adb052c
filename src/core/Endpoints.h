#pragma once

#include <QString>

// The addresses of the servers the client talks to, each a fixed default that an environment
// variable overrides (for tests and for operators with their own deployment).

// The built-in catalogue endpoint; TAVILON_CATALOGUE_URL overrides it.
QString BuiltInCatalogueEndpoint();
// The file host's web site, without a trailing "/"; TAVILON_FILEHOST_URL overrides it.
QString FileHostUrl();
// The host part of the file host's address, for the texts that name it.
QString FileHostDomain();
// The movie-metadata web site, without a trailing "/"; TAVILON_METADATA_URL overrides it.
QString MetadataUrl();
