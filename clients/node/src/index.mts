// The ES module entry re-exports the CommonJS build (Node's wrapper approach
// for dual packages): a host that both imports and requires the client gets
// one module, so its sessions and classes are the same under either.
export * from './index.js';
