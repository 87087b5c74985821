export * from './events';
export * from './session';
export * from './locales';
