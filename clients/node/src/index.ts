export * from './binary.js';
export * from './events.js';
export * from './session.js';
export * from './locales.js';
export * from './transcript.js';
