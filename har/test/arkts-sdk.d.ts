// The parts of the platform's SDK that the example app module uses, declared as the SDK declares
// them (a subset: only these members), so that the front end checks the module without the SDK.

// UI: the page's decorators and components. Each component is a callable interface giving its
// attribute class, plus the `<Name>Instance` that the front end looks up for chained attributes.
declare const Entry: ClassDecorator;
declare const Component: ClassDecorator;
declare const State: PropertyDecorator;
declare class CustomComponent {
  aboutToAppear?(): void;
  aboutToDisappear?(): void;
  build(): void;
}
declare class CommonMethod<T> {
  width(value: number | string): T;
  padding(value: number | string): T;
  onClick(event: () => void): T;
}
declare const CommonInstance: CommonMethod<object>;
interface ColumnOptions { space?: number | string }
interface ColumnInterface { (value?: ColumnOptions): ColumnAttribute }
declare class ColumnAttribute extends CommonMethod<ColumnAttribute> {}
declare const Column: ColumnInterface;
declare const ColumnInstance: ColumnAttribute;
interface TextInterface { (content?: string): TextAttribute }
declare class TextAttribute extends CommonMethod<TextAttribute> {
  fontSize(value: number | string): TextAttribute;
}
declare const Text: TextInterface;
declare const TextInstance: TextAttribute;
declare enum ProgressType { Linear = 0, Ring = 1, Eclipse = 2, ScaleRing = 3, Capsule = 4 }
interface ProgressOptions { value: number; total?: number; type?: ProgressType }
interface ProgressInterface { (options: ProgressOptions): ProgressAttribute }
declare class ProgressAttribute extends CommonMethod<ProgressAttribute> {}
declare const Progress: ProgressInterface;
declare const ProgressInstance: ProgressAttribute;
interface ButtonInterface { (label: string): ButtonAttribute }
declare class ButtonAttribute extends CommonMethod<ButtonAttribute> {}
declare const Button: ButtonInterface;
declare const ButtonInstance: ButtonAttribute;

// The application context a component is in (its ability's).
interface Context {
  resourceManager: SdkResourceManager;
}
// A file under resources/rawfile: the app's package file, and where the file lies in it (bytes).
interface RawFileDescriptor {
  fd: number;
  offset: number;
  length: number;
}
interface SdkResourceManager {
  getRawFd(path: string): Promise<RawFileDescriptor>;
  closeRawFd(path: string): Promise<void>;
}
declare function getContext(component?: Object): Context;

declare module '@kit.AbilityKit' {
  export namespace common {
    interface UIAbilityContext extends Context {}
  }
  import { window } from '@kit.ArkUI';
  export class UIAbility {
    context: common.UIAbilityContext;
    onWindowStageCreate(windowStage: window.WindowStage): void;
  }
}

declare module '@kit.ArkUI' {
  export namespace window {
    interface WindowStage {
      loadContent(path: string): Promise<void>;
    }
  }
}
