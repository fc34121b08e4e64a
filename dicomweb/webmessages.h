// What a DICOMweb server's HTTP status means, in words a user can act on.
#pragma once

#include <string>

#include "dicomwebserver.h"
#include "httpsession.h"

// What a request was for, so that a refusal can say what was refused.
enum class WebAction { Store, Search };

// True for the statuses that mean the request was carried out (2xx).
bool IsHttpSuccess(long status);

// The problem with an answer that is not a success, naming its status, as in "The DICOMweb
// server refused the login (HTTP 401)". A short text the server gave is added after a colon.
std::string HttpStatusProblem(const HttpResponse& response, WebAction action,
                              const DicomWebServer& server);

// True when a status means every further request of the same kind fails as well (the login, the
// address or the service itself is wrong), so the rest of a batch is not tried.
bool HttpStatusStopsTheRun(long status);

// A readable first line of a text the server sent, at most 160 characters; empty when the body is
// empty, a DICOM JSON answer, or not readable text.
std::string ServerText(const HttpResponse& response);
