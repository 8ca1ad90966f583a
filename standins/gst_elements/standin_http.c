#include "standin_http.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Splits http://host[:port]/path; IPv6 literals in brackets are kept whole as the host. */
static gboolean split_url(const gchar* url, gchar** host, guint16* port, gchar** path, GError** error) {
  const gchar* prefix = "http://";
  if (!g_str_has_prefix(url, prefix)) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "only http:// URLs are supported: %s", url);
    return FALSE;
  }
  const gchar* authority = url + strlen(prefix);
  const gchar* slash = strchr(authority, '/');
  gchar* hostport = slash ? g_strndup(authority, (gsize)(slash - authority)) : g_strdup(authority);
  *path = g_strdup(slash ? slash : "/");
  const gchar* colon = NULL;
  if (hostport[0] == '[') {
    const gchar* close = strchr(hostport, ']');
    colon = close && close[1] == ':' ? close + 1 : NULL;
  } else {
    colon = strrchr(hostport, ':');
  }
  *port = 80;
  if (colon) {
    gchar* end = NULL;
    const guint64 value = g_ascii_strtoull(colon + 1, &end, 10);
    if (end == colon + 1 || *end != '\0' || value == 0 || value > 65535) {
      g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "invalid port in URL: %s", url);
      g_free(hostport);
      g_clear_pointer(path, g_free);
      return FALSE;
    }
    *port = (guint16)value;
    *host = g_strndup(hostport, (gsize)(colon - hostport));
  } else {
    *host = g_strdup(hostport);
  }
  g_free(hostport);
  if ((*host)[0] == '\0') {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "no host in URL: %s", url);
    g_clear_pointer(host, g_free);
    g_clear_pointer(path, g_free);
    return FALSE;
  }
  return TRUE;
}

static gchar* header_value(const gchar* headers, const gchar* name) {
  gchar** lines = g_strsplit(headers, "\r\n", -1);
  gchar* value = NULL;
  const gsize name_length = strlen(name);
  for (gchar** line = lines + 1; *line && !value; ++line) {
    if (g_ascii_strncasecmp(*line, name, name_length) == 0 && (*line)[name_length] == ':') {
      value = g_strstrip(g_strdup(*line + name_length + 1));
    }
  }
  g_strfreev(lines);
  return value;
}

/* The body of a chunked transfer, decoded; NULL when it is malformed. */
static gchar* dechunk(const gchar* data, gsize length, gsize* decoded_length) {
  GString* out = g_string_new(NULL);
  gsize at = 0;
  for (;;) {
    const gchar* line_end = g_strstr_len(data + at, (gssize)(length - at), "\r\n");
    if (!line_end) {
      break;
    }
    gchar* end = NULL;
    const guint64 size = g_ascii_strtoull(data + at, &end, 16);
    if (end == data + at) {
      break;
    }
    at = (gsize)(line_end - data) + 2;
    if (size == 0) {
      *decoded_length = out->len;
      return g_string_free(out, FALSE);
    }
    if (size > length - at) {
      break;
    }
    g_string_append_len(out, data + at, (gssize)size);
    at += (gsize)size + 2;
    if (at > length) {
      break;
    }
  }
  g_string_free(out, TRUE);
  return NULL;
}

void standin_http_response_clear(StandinHttpResponse* response);

gboolean standin_http_request(const gchar* method, const gchar* url, const gchar* content_type, const gchar* body,
                              const gchar* bearer_token, guint timeout_seconds, GCancellable* cancellable,
                              StandinHttpResponse* response, GError** error) {
  memset(response, 0, sizeof *response);
  gchar* host = NULL;
  gchar* path = NULL;
  guint16 port = 0;
  if (!split_url(url, &host, &port, &path, error)) {
    return FALSE;
  }
  GSocketClient* client = g_socket_client_new();
  g_socket_client_set_timeout(client, timeout_seconds);
  const gchar* connect_host = host;
  gchar* unbracketed = NULL;
  if (host[0] == '[') {
    unbracketed = g_strndup(host + 1, strlen(host) - 2);
    connect_host = unbracketed;
  }
  GSocketConnection* connection = g_socket_client_connect_to_host(client, connect_host, port, cancellable, error);
  g_free(unbracketed);
  g_object_unref(client);
  if (!connection) {
    g_free(host);
    g_free(path);
    return FALSE;
  }

  GString* request = g_string_new(NULL);
  g_string_append_printf(request, "%s %s HTTP/1.1\r\nHost: %s", method, path, host);
  if (port != 80) {
    g_string_append_printf(request, ":%u", port);
  }
  g_string_append(request, "\r\nConnection: close\r\nUser-Agent: corvane-standin\r\n");
  if (bearer_token && bearer_token[0] != '\0') {
    g_string_append_printf(request, "Authorization: Bearer %s\r\n", bearer_token);
  }
  const gsize body_length = body ? strlen(body) : 0;
  if (content_type) {
    g_string_append_printf(request, "Content-Type: %s\r\n", content_type);
  }
  g_string_append_printf(request, "Content-Length: %" G_GSIZE_FORMAT "\r\n\r\n", body_length);
  if (body) {
    g_string_append_len(request, body, (gssize)body_length);
  }
  g_free(host);
  g_free(path);

  GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection));
  GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
  gboolean ok = g_output_stream_write_all(out, request->str, request->len, NULL, cancellable, error);
  g_string_free(request, TRUE);

  /* Read until the peer closes (we asked it to), or until the body named by Content-Length is in. */
  GByteArray* received = g_byte_array_new();
  gssize header_end = -1;
  gssize expected_total = -1;
  while (ok) {
    guint8 chunk[16384];
    const gssize count = g_input_stream_read(in, chunk, sizeof chunk, cancellable, error);
    if (count < 0) {
      ok = FALSE;
      break;
    }
    if (count == 0) {
      break;
    }
    g_byte_array_append(received, chunk, (guint)count);
    if (header_end < 0) {
      const gchar* end = g_strstr_len((const gchar*)received->data, received->len, "\r\n\r\n");
      if (end) {
        header_end = end - (const gchar*)received->data;
        gchar* headers = g_strndup((const gchar*)received->data, (gsize)header_end);
        gchar* length = header_value(headers, "Content-Length");
        if (length) {
          expected_total = header_end + 4 + (gssize)g_ascii_strtoll(length, NULL, 10);
        }
        g_free(length);
        g_free(headers);
      }
    }
    if (expected_total >= 0 && (gssize)received->len >= expected_total) {
      break;
    }
  }
  g_io_stream_close(G_IO_STREAM(connection), NULL, NULL);
  g_object_unref(connection);
  if (ok && header_end < 0) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "the server closed the connection without a response");
    ok = FALSE;
  }
  if (ok) {
    gchar* headers = g_strndup((const gchar*)received->data, (gsize)header_end);
    guint status = 0;
    if (sscanf(headers, "HTTP/1.%*1[01] %3u", &status) != 1 || status < 100) {
      g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "the server's response has no status line");
      ok = FALSE;
    } else {
      response->status = status;
      response->location = header_value(headers, "Location");
      response->content_type = header_value(headers, "Content-Type");
      gsize length = received->len - (gsize)header_end - 4;
      if (expected_total >= 0 && (gsize)expected_total < received->len) {
        length = (gsize)expected_total - (gsize)header_end - 4;
      }
      const gchar* start = (const gchar*)received->data + header_end + 4;
      gchar* encoding = header_value(headers, "Transfer-Encoding");
      if (encoding && g_ascii_strcasecmp(encoding, "chunked") == 0) {
        response->body = dechunk(start, length, &response->body_length);
        if (!response->body) {
          g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "the server's chunked body is malformed");
          standin_http_response_clear(response);
          ok = FALSE;
        }
      } else {
        response->body = g_strndup(start, length);
        response->body_length = length;
      }
      g_free(encoding);
    }
    g_free(headers);
  }
  g_byte_array_unref(received);
  return ok;
}

void standin_http_response_clear(StandinHttpResponse* response) {
  g_clear_pointer(&response->location, g_free);
  g_clear_pointer(&response->content_type, g_free);
  g_clear_pointer(&response->body, g_free);
  response->body_length = 0;
  response->status = 0;
}

gchar* standin_http_resolve(const gchar* base, const gchar* location) {
  if (g_str_has_prefix(location, "http://") || g_str_has_prefix(location, "https://")) {
    return g_strdup(location);
  }
  const gchar* authority = strstr(base, "://");
  const gchar* path = authority ? strchr(authority + 3, '/') : NULL;
  const gsize origin = path ? (gsize)(path - base) : strlen(base);
  if (location[0] == '/') {
    return g_strdup_printf("%.*s%s", (int)origin, base, location);
  }
  const gchar* last = strrchr(base + origin, '/');
  const gsize directory = last ? (gsize)(last - base) + 1 : origin;
  return g_strdup_printf("%.*s%s%s", (int)directory, base, last ? "" : "/", location);
}
