// Binds every listening server of this process to 127.0.0.1 when it names only a port.
const net = require('net');
const listen = net.Server.prototype.listen;
net.Server.prototype.listen = function (port, ...rest) {
  if (typeof port === 'number' && (rest.length === 0 || typeof rest[0] === 'function')) {
    return listen.call(this, port, '127.0.0.1', ...rest);
  }
  return listen.call(this, port, ...rest);
};
