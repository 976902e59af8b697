export { DEFAULT_TIMEOUT, TandrelClient, connect } from './lib/TandrelClient.js';
export { SERVICE_NAME, servicePath } from './lib/servicePath.js';
export { TandrelError } from './lib/TandrelError.js';
