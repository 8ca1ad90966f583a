/* A small blocking HTTP/1.1 client on GIO sockets, for the stand-in WHIP sink and the end-to-end test
 * fixture (never shipped). Plain http:// only; one request per connection ("Connection: close"). */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

typedef struct {
  guint status;        /* the status code of the response */
  gchar* location;     /* the Location header, or NULL */
  gchar* content_type; /* the Content-Type header, or NULL */
  gchar* body;         /* the body, NUL-terminated (may hold NULs before the end) */
  gsize body_length;
} StandinHttpResponse;

/* Sends one request to `url` (http://host[:port]/path) and reads the whole response. `content_type`
 * and `body` may be NULL (no body); `bearer_token` adds an Authorization header when not NULL or
 * empty. Fails with GIO's error (connection refused, timeout, cancelled) or G_IO_ERROR_INVALID_DATA
 * for a URL or response it cannot read. */
gboolean standin_http_request(const gchar* method, const gchar* url, const gchar* content_type, const gchar* body,
                              const gchar* bearer_token, guint timeout_seconds, GCancellable* cancellable,
                              StandinHttpResponse* response, GError** error);

/* Frees what a response holds (not the struct itself). */
void standin_http_response_clear(StandinHttpResponse* response);

/* `location` resolved against `base` (an absolute URL, or a path on the same scheme, host and port).
 * Newly allocated. */
gchar* standin_http_resolve(const gchar* base, const gchar* location);

G_END_DECLS
