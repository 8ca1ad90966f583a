// Binds every listening server of this process to 127.0.0.1 when it names only a port.
//
// With CORVANE_WHIP_SETUP_PORT set, the HTTP server listens on that port first and takes its own
// port only on SIGUSR2: the test creates the endpoints through the set-up port, so a publisher that
// retries while the server restarts finds either no server or one with its endpoint, never one
// without.
const net = require('net');
const http = require('http');
const listen = net.Server.prototype.listen;
const setupPort = Number(process.env.CORVANE_WHIP_SETUP_PORT || 0);
net.Server.prototype.listen = function (port, ...rest) {
  if (typeof port !== 'number' || (rest.length !== 0 && typeof rest[0] !== 'function')) {
    return listen.call(this, port, ...rest);
  }
  if (setupPort !== 0 && this instanceof http.Server) {
    const server = this;
    process.once('SIGUSR2', () => {
      const open = http.createServer();
      for (const handler of server.listeners('request')) {
        open.on('request', handler);
      }
      listen.call(open, port, '127.0.0.1');
    });
    return listen.call(this, setupPort, '127.0.0.1', ...rest);
  }
  return listen.call(this, port, '127.0.0.1', ...rest);
};
